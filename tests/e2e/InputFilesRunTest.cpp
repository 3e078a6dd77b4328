// The real program playing files it must measure as they are: at other rates than 44,100 Hz,
// 24-bit below the 16-bit range, float beyond full scale, and one channel of a stereo file.
#include <QFile>

#include "support/ToneFile.h"
#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

using Row = std::map<QString, QString>;

class InputFilesRun : public ProgramRun {
  protected:
    // The log's rows measured from the file, by column name.
    std::vector<Row> rows() const {
        QFile file(QString::fromStdString(log_.string()));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        std::vector<Row> out;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            Row row;
            const QStringList names = lines[0].split(','), values = lines[i].split(',');
            for (qsizetype c = 0; c < names.size() && c < values.size(); ++c) {
                row[names[c]] = values[c];
            }
            if (!row.contains("input") || row["input"] == "file") {
                out.push_back(row);
            }
        }
        return out;
    }
    // Plays the file until it has ended and its `seconds` whole seconds are logged, then ends
    // the program as a user would.
    void playToTheEnd(const QStringList& args, std::size_t seconds, const char* keys = "") {
        start(QStringList{"--input", QString::fromStdString(input_.string()), "--log",
                          QString::fromStdString(log_.string())} +
              args);
        send(keys);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                stderr_ += QString::fromUtf8(process_.readAllStandardError());
                return stderr_.contains("ended; the meters show silence") &&
                       rows().size() >= seconds;
            },
            60000))
            << stderr_.toStdString();
        process_.terminate();
        EXPECT_EQ(finish(), 0) << stderr_.toStdString();
    }
    void SetUp() override {
        ProgramRun::SetUp();
        input_ = dir_ / "input.wav";
        log_ = dir_ / "levels.csv";
    }
    static double value(const Row& row, const char* column) {
        return row.count(column) ? row.at(column).toDouble() : NAN;
    }

    fs::path input_;
    fs::path log_;
};

// 2 s of a -20 dBFS tone, 2 s of silence, 1.5 s at -100 dBFS: five whole seconds at any rate.
TEST_F(InputFilesRun, FilesAtOtherRatesKeepTheirDurationLevelsAndTimeConstants) {
    for (const int rate : {48000, 96000, 22050}) {
        SCOPED_TRACE(rate);
        input_ = dir_ / ("input-" + std::to_string(rate) + ".wav");
        log_ = dir_ / ("levels-" + std::to_string(rate) + ".csv");
        ASSERT_TRUE(writeToneFile(input_.string(), rate, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                                  {{2.0, -20.0}, {2.0, -1000.0}, {1.5, -100.0}}));
        stderr_.clear();
        playToTheEnd({}, 5);
        const std::vector<Row> r = rows();
        ASSERT_EQ(r.size(), 5u);
        EXPECT_NEAR(value(r[0], "LAeq_1s_dB"), -20.0, 0.1);
        EXPECT_NEAR(value(r[1], "LAeq_1s_dB"), -20.0, 0.1);
        // Each second's LAFmax is its first LAF: one second of Fast decay lies between them.
        EXPECT_NEAR(value(r[2], "LAFmax_1s_dB") - value(r[3], "LAFmax_1s_dB"), 34.7, 1.0);
        EXPECT_NEAR(value(r[4], "LAeq_1s_dB"), -100.0, 0.8);  // below what 16 bits hold
        EXPECT_EQ(stderr_.count("resampling " + QString::number(rate) + " Hz to 44100 Hz"), 1)
            << stderr_.toStdString();
    }
}

// A float file at +6 dBFS with its channels in opposite phase.
TEST_F(InputFilesRun, FloatBeyondFullScaleAndOneChannelOfAStereoFile) {
    ASSERT_TRUE(
        writeToneFile(input_.string(), 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, {{3.0, 6.0}}, 2));
    playToTheEnd({"--channel", "1"}, 3, "Space\nR\n");
    std::vector<Row> r = rows();
    ASSERT_GE(r.size(), 3u);
    for (const Row& row : r) {
        EXPECT_NEAR(value(row, "LZeq_1s_dB"), 6.0, 0.1) << "measured, not clipped";
    }
    // The recording is 16-bit: the peaks of 1.995 × full scale are cut at full scale, which is
    // where |sin| > 1 / 1.995, two thirds of the time.
    const auto recorded = readAll(docsPath() / "output2.caf");
    ASSERT_GT(recorded.size(), 44100u);
    const auto clipped = std::count_if(recorded.begin(), recorded.end(),
                                       [](std::int16_t s) { return s == 32767 || s == -32768; });
    const auto sounding =
        std::count_if(recorded.begin(), recorded.end(), [](std::int16_t s) { return s != 0; });
    EXPECT_NEAR(static_cast<double>(clipped) / static_cast<double>(sounding), 0.666, 0.02);

    // The mix of the two channels is silence.
    fs::remove(log_);
    playToTheEnd({}, 3);
    r = rows();
    ASSERT_EQ(r.size(), 3u);
    for (const Row& row : r) {
        EXPECT_EQ(value(row, "LZeq_1s_dB"), -120.0);
    }

    stderr_.clear();
    start({"--input", QString::fromStdString(input_.string()), "--channel", "3"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(stderr_.contains(
        "fieldmeter: --channel 3: " + QString::fromStdString(input_.string()) + " has 2 channels"))
        << stderr_.toStdString();
}

}  // namespace
}  // namespace fm::test
