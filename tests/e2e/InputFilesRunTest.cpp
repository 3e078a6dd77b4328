// The real program on files it must measure as they are: at other rates than 44,100 Hz, 24-bit
// below the 16-bit range, float beyond full scale, one channel of a stereo file.
#include <QFile>
#include <map>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

class InputFilesRun : public ProgramRun {
  protected:
    // The log's rows by column name.
    std::vector<std::map<QString, double>> rows() const {
        QFile log(docs() + "/levels.csv");
        log.open(QIODevice::ReadOnly);  // a missing log has no rows
        const QStringList lines = QString(log.readAll()).split('\n', Qt::SkipEmptyParts);
        const QStringList names = lines.value(0).split(',');
        std::vector<std::map<QString, double>> out;
        for (const QString& line : lines.mid(1)) {
            auto& row = out.emplace_back();
            for (qsizetype c = 0; c < names.size(); ++c) {
                row[names[c]] = line.section(',', c, c).toDouble();
            }
        }
        return out;
    }
    // Plays input.wav until it has ended and its `seconds` rows are logged; ends the program.
    void play(QStringList args, std::size_t seconds, const char* keys = "") {
        fs::remove(docsPath() / "levels.csv");
        stderr_.clear();
        start(args << "--input" << docs() + "/input.wav"
                   << "--log" << docs() + "/levels.csv");
        send(keys);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                stderr_ += QString::fromUtf8(process_.readAllStandardError());
                return stderr_.contains("ended; the meters show silence") &&
                       rows().size() >= seconds;
            },
            60000));
        process_.terminate();
        EXPECT_EQ(finish(), 0) << stderr_.toStdString();
    }
};

// 24-bit 1 kHz tones, a second each, at -110, -100 (below 16 bits), -60, -20, 0 dBFS, then 2 s of
// silence. Rising: the filters' ringing after a tone stops would count in a quieter second.
TEST_F(InputFilesRun, FilesAtOtherRatesKeepTheirDurationLevelsAndTimeConstants) {
    const char* pieces[] = {"-110dB", "-100dB", "-60dB", "-20dB", "-0.001dB pad 0 2"};
    for (const int rate : {48000, 96000, 22050}) {
        SCOPED_TRACE(rate);
        std::string make = "cd " + docsPath().string();
        for (int i = 0; i < 5; ++i) {  // sox's sine of unit gain is 3 dB down: hence -0.001
            make += " && sox -V1 -n -r " + std::to_string(rate) + " -b 24 p" + std::to_string(i) +
                    ".wav synth 1 sine 1000 vol " + pieces[i];
        }
        ASSERT_EQ(std::system((make + " && sox p?.wav input.wav").c_str()), 0);
        play({}, 7);
        const auto r = rows();
        ASSERT_EQ(r.size(), 7u);  // the resampler flushed to the last frame
        EXPECT_NEAR(r[3].at("LAeq_1s_dB"), -20.0, 0.1);
        for (const auto& [row, dbfs] : {std::pair{0, -110.0}, {1, -100.0}, {2, -60.0}, {4, 0.0}}) {
            EXPECT_NEAR(r[row].at("LAeq_1s_dB"), dbfs, 0.8) << row;
        }
        // A silent second's LAFmax is its first LAF: one second of Fast decay lies between them.
        EXPECT_NEAR(r[5].at("LAFmax_1s_dB") - r[6].at("LAFmax_1s_dB"), 34.7, 1.0);
        EXPECT_EQ(stderr_.count("resampling " + QString::number(rate) + " Hz to 44100 Hz"), 1);
    }
}

TEST_F(InputFilesRun, FloatBeyondFullScaleAndOneChannelOfAStereoFile) {
    // 3 s of a +6 dBFS tone (peak 1.995) on channel 1, the same 6 dB lower in opposite phase on
    // channel 2 (never overloaded), and one frame that is no number: it must not spoil the
    // measurement, and it is an overload.
    std::vector<float> frames(2 * 132300);
    for (std::size_t i = 0; i < frames.size(); i += 2) {
        frames[i] = 1.995f * std::sin(2.0 * M_PI * 1000.0 * i / 2 / 44100);
        frames[i + 1] = -0.5f * frames[i];
    }
    frames[44100] = frames[44101] = NAN;
    SF_INFO info{0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open((docsPath() / "input.wav").c_str(), SFM_WRITE, &info);
    ASSERT_EQ(sf_writef_float(file, frames.data(), 132300), 132300);
    sf_close(file);

    play({"--channel", "2"}, 3);
    EXPECT_NEAR(rows().at(2).at("LZeq_1s_dB"), -0.02, 0.1);
    const std::vector<double> nanOnly = {1, 0, 0};
    EXPECT_EQ((std::vector<double>{rows().at(0).at("overload"), rows().at(1).at("overload"),
                                   rows().at(2).at("overload")}),
              nanOnly);

    play({"--channel", "1"}, 3, "Space\nR\n");
    EXPECT_NEAR(rows().at(2).at("LZeq_1s_dB"), 6.0, 0.1) << "measured, not clipped, no NaN";
    // The recording is 16-bit: cut at full scale where |sin| > 1 / 1.995, two thirds of the time.
    const auto rec = readAll(docsPath() / "output2.caf");
    const auto count = [&](auto test) { return std::count_if(rec.begin(), rec.end(), test); };
    EXPECT_NEAR(double(count([](auto s) { return s == 32767 || s == -32768; })) /
                    double(count([](auto s) { return s != 0; })),
                0.666, 0.02);

    // The mix is half of channel 1 less half of channel 2, never beyond full scale; but channel 1
    // was, two thirds of the time, and the frame that is no number is an overload too.
    play({}, 3);
    EXPECT_NEAR(rows().at(2).at("LZeq_1s_dB"), -6.04, 0.1);
    double overloaded = 0;
    for (std::size_t i = 0; i < frames.size(); i += 2) {
        overloaded += std::fabs(frames[i]) >= 32767.0f / 32768.0f || std::isnan(frames[i]);
    }
    EXPECT_GT(overloaded, 3 * 29000.0);
    const auto r = rows();
    EXPECT_EQ(r.at(0).at("overload") + r.at(1).at("overload") + r.at(2).at("overload"), overloaded);
    start({"--input", docs() + "/input.wav", "--channel", "3"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(stderr_.contains("--channel 3: " + docs() + "/input.wav has 2 channels"));
}

}  // namespace
}  // namespace fm::test
