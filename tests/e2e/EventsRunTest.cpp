// The real program capturing a loud moment from a file: the clip frame for frame against the
// input from the pre-roll to the post-roll, its row in events.csv and the metrics' count; the
// clips' budget; and a clip left readable by a kill during the event.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

constexpr int kRate = 44100;
constexpr int kBurst = 3 * kRate + 1234;  // the burst's first frame: off the ticks' grid
constexpr double kThresholdDb = -9.0;     // LAF above it fires; the burst reads -6.02

// Quiet noise about 50 dB below full scale with a second of a 1 kHz sine of peak 0.5 in it, as
// 16-bit samples (the clip's floats are these over 32768).
std::vector<std::int16_t> writeBurst(const fs::path& path, double seconds) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 100.0);
    std::vector<std::int16_t> s(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < s.size(); ++i) {
        const int k = static_cast<int>(i) - kBurst;
        const double tone =
            k >= 0 && k < kRate ? 16384.0 * std::sin(2 * M_PI * 1000.0 * k / kRate) : 0;
        s[i] = static_cast<std::int16_t>(std::lround(tone + noise(random)));
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
    return s;
}

// Where the clip's samples lie in the input, with how many there are; npos when they are not
// exactly a run of it.
std::pair<size_t, size_t> clipInInput(const fs::path& clip,
                                      const std::vector<std::int16_t>& input) {
    SF_INFO info{};
    SNDFILE* f = sf_open(clip.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        ADD_FAILURE() << clip << ": " << sf_strerror(nullptr);
        return {std::string::npos, 0};
    }
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(info.samplerate, kRate);
    std::vector<float> floats(static_cast<size_t>(info.frames));
    sf_read_float(f, floats.data(), info.frames);
    sf_close(f);
    std::vector<std::int16_t> samples;
    for (const float v : floats) {
        EXPECT_EQ(v * 32768.0f, std::round(v * 32768.0f)) << "not an input sample";
        samples.push_back(static_cast<std::int16_t>(v * 32768.0f));
    }
    return {findRun(input, samples), samples.size()};
}

std::vector<fs::path> clips(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav") {
            found.push_back(entry.path());
        }
    }
    return found;
}

QStringList rowsOf(const fs::path& csv) {
    std::ifstream in(csv);
    std::stringstream text;
    text << in.rdbuf();
    return QString::fromStdString(text.str()).split('\n', Qt::SkipEmptyParts);
}

class EventsRun : public ProgramRun {
  protected:
    QString inputPath() const { return QString::fromStdString((dir_ / "in.wav").string()); }
    fs::path events() const { return docsPath() / "events"; }
    // Waits until the program's standard error matches `pattern`; its first capture.
    QString waitForStderr(const QString& pattern) {
        const QRegularExpression re(pattern);
        QString found;
        [[maybe_unused]] const bool ended = QTest::qWaitFor(
            [&] {
                stderr_ += QString::fromUtf8(process_.readAllStandardError());
                found = re.match(stderr_).captured(1);
                return !found.isEmpty() || process_.state() == QProcess::NotRunning;
            },
            30000);
        return found;
    }
    bool waitForRows(int rows) {
        return QTest::qWaitFor([&] { return rowsOf(events() / "events.csv").size() >= rows; },
                               30000);
    }
    int endNow() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        return finish();
    }
};

TEST_F(EventsRun, ALoudMomentIsOneClipFromItsPreRollToItsPostRollAndOneRowThenTheBudgetRefuses) {
    const auto input = writeBurst(dir_ / "in.wav", 8.0);
    // An older version's list is kept under a name of its own, and a new one begun.
    fs::create_directories(events());
    const std::string older =
        "start_utc,end_utc,duration_s,trigger,LAFmax_dB,LAeq_dB,LCpeak_dB,"
        "calibrated,clip,kept\n2026-12-01T10:00:00.000Z,x,1.0,LAF,,,,0,,0\n";
    std::ofstream(events() / "events.csv") << older;
    start({"--input", inputPath(), "--event-above", QString::number(kThresholdDb), "--pre-roll",
           "2", "--post-roll", "1", "--metrics", "0", "--name", "yard"});
    const QString port = waitForStderr(R"(serving metrics at http://127\.0\.0\.1:(\d+)/metrics)");
    ASSERT_FALSE(port.isEmpty()) << stderr_.toStdString();
    ASSERT_TRUE(waitForRows(2)) << stderr_.toStdString();
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(
        network.get(QNetworkRequest(QUrl("http://127.0.0.1:" + port + "/metrics"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, 10000));
    EXPECT_TRUE(QString::fromUtf8(reply->readAll())
                    .contains("\nfieldmeter_events_total{meter=\"yard\"} 1\n"));
    ASSERT_EQ(endNow(), 0) << stderr_.toStdString();

    // LAF (Fast, 125 ms) crosses the threshold on the way up and down this long after the
    // burst's edges; the event's ticks hold those moments.
    const double r = std::pow(10.0, (kThresholdDb - 20 * std::log10(0.5)) / 10.0);
    const double up = kBurst + 0.125 * std::log(1 / (1 - r)) * kRate;
    const double down = kBurst + kRate + 0.125 * std::log(1 / r) * kRate;
    const auto found = clips(events());
    ASSERT_EQ(found.size(), 1u);
    const auto [at, frames] = clipInInput(found[0], input);
    ASSERT_NE(at, std::string::npos) << "the clip is not a run of the input";
    const double tick = kRate / 10.0, slack = 20.0;
    EXPECT_LE(at + 2.0 * kRate, up + slack);  // its first tick holds the crossing up
    EXPECT_GT(at + 2.0 * kRate, up - tick - slack);
    EXPECT_GE(at + frames - 1.0 * kRate, down - slack);  // its last loud tick, the crossing down
    EXPECT_LT(at + frames - 1.0 * kRate, down + tick + slack);

    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(events())) {
        if (entry.path().filename().string().rfind("events-before-", 0) == 0) {
            kept.push_back(entry.path());
        }
    }
    ASSERT_EQ(kept.size(), 1u);
    std::ifstream keptIn(kept[0]);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(keptIn), {}), older);

    const QStringList rows = rowsOf(events() / "events.csv");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0],
              "start_utc,end_utc,start_local,end_local,duration_s,trigger,LAFmax_dB,LAeq_dB,"
              "LCpeak_dB,calibrated,clip,kept,clip_written_s,why_not_kept");
    const QStringList row = rows[1].split(',');
    ASSERT_EQ(row.size(), 14) << rows[1].toStdString();
    EXPECT_NEAR(row[4].toDouble(), (frames - 2.0 * kRate) / kRate, 0.0015);
    EXPECT_EQ(row[5], "LAF");
    EXPECT_NEAR(row[6].toDouble(), -6.02, 0.05);
    EXPECT_EQ(row.mid(9),
              (QStringList{"0", QString::fromStdString(found[0].filename()), "1",
                           QString::number(static_cast<double>(frames) / kRate, 'f', 3), ""}));

    // 1 MB: the clip there and another as long do not fit. The event is listed, not kept, and
    // nothing is removed.
    stderr_.clear();
    start({"--input", inputPath(), "--event-above", QString::number(kThresholdDb), "--pre-roll",
           "2", "--post-roll", "1", "--events-max-mb", "1"});
    ASSERT_TRUE(waitForRows(3)) << stderr_.toStdString();
    ASSERT_EQ(endNow(), 0) << stderr_.toStdString();
    EXPECT_EQ(clips(events()), found);
    const QStringList refused = rowsOf(events() / "events.csv")[2].split(',');
    ASSERT_EQ(refused.size(), 12);
    EXPECT_NEAR(refused[6].toDouble(), -6.02, 0.05);
    EXPECT_EQ(refused.mid(9, 4), (QStringList{"0", "", "0", "0.000"}));
    EXPECT_TRUE(refused[13].startsWith("the clips in ")) << refused[13].toStdString();
    EXPECT_EQ(stderr_.count("is not captured as a clip: the clips in "), 1)
        << stderr_.toStdString();
}

TEST_F(EventsRun, AKillDuringAnEventLeavesAReadableClipOfTheInput) {
    const auto input = writeBurst(dir_ / "in.wav", 40.0);
    start({"--input", inputPath(), "--event-above", QString::number(kThresholdDb), "--pre-roll",
           "2", "--post-roll", "60"});
    // Killed with the clip well past the burst, long before the file ends.
    fs::path clip;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto found = fs::exists(events()) ? clips(events()) : std::vector<fs::path>{};
            if (found.size() == 1) {
                clip = found[0];
            }
            return !clip.empty() && fileSize(clip) > 4 * 4 * kRate;
        },
        30000));
    ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
    EXPECT_EQ(finish(), -2);
    const auto [at, frames] = clipInInput(clip, input);
    EXPECT_NE(at, std::string::npos) << "the clip is not a run of the input";
    EXPECT_GE(frames, 4u * kRate);
    EXPECT_NEAR(static_cast<double>(at), kBurst - 2.0 * kRate, kRate / 10.0);
}

}  // namespace
}  // namespace fm::test
