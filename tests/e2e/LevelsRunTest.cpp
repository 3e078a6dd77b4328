// The real program calibrated with K from a reference tone, headless: the recording's LAeq
// beside it, the next run starting calibrated, and a recording ended with the program. Its
// settings live in the test's folder.
#include <QFile>
#include <fstream>
#include <functional>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

// A 1 kHz sine of peak 3277, -20.0 dBFS, as a mono 16-bit WAV file.
void writeTone(const fs::path& path, double seconds) {
    const int frames = static_cast<int>(seconds * 44100);
    std::vector<std::int16_t> samples(frames);
    for (int i = 0; i < frames; ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(3277.0 * std::sin(2.0 * M_PI * 1000.0 * i / 44100)));
    }
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_short(f, samples.data(), frames);
    sf_close(f);
}

class LevelsRun : public ProgramRun {
  protected:
    void SetUp() override {
        ProgramRun::SetUp();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir_ / "config").string()));
    }
    // Waits until standard error holds `text`.
    bool waitForMessage(const QString& text) {
        return QTest::qWaitFor(
            [&] {
                stderr_ += QString::fromUtf8(process_.readAllStandardError());
                return stderr_.contains(text);
            },
            30000);
    }
};

TEST_F(LevelsRun, KCalibratesFromAReferenceToneAndTheNextRunStartsCalibrated) {
    writeTone(dir_ / "tone.wav", 14.0);
    const QString tone = QString::fromStdString((dir_ / "tone.wav").string());
    // The tone stands for a 114 dB calibrator: 0 dBFS becomes 134 dB.
    const fs::path log = dir_ / "levels.csv";
    start({"--input", tone, "--calibrate-to", "114", "--duration", "12", "--log",
           QString::fromStdString(log.string())});
    // K once the level is steady: a calibrator is heard before the key is pressed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(log) > 1200; }, 20000));
    send("Space\nK\n");
    ASSERT_TRUE(
        waitForMessage("fieldmeter: calibrated: 0 dBFS = 134.00 dB (the 114.0 dB "
                       "reference read -20.00 dBFS)"))
        << stderr_.toStdString();
    send("R\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 44100; }, 20000));
    send("R\n");
    ASSERT_TRUE(waitForMessage("LAeq 114.0 dB\n")) << stderr_.toStdString();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    QFile summary(QString::fromStdString((docsPath() / "output2.txt").string()));
    ASSERT_TRUE(summary.open(QIODevice::ReadOnly));
    EXPECT_TRUE(summary.readAll().contains("\nLAeq 114.0 dB\ncalibrated: 0 dBFS = 134.00 dB\n"));
    EXPECT_TRUE(fs::exists(dir_ / "config" / "fieldmeter" / "fieldmeter.conf"));

    // A recording ended by ending the program leaves its summary too.
    stderr_.clear();
    fs::remove(docsPath() / "output2.txt");
    fs::remove(caf);  // grows again only once the keys are read, with the signals handled
    start({"--input", tone});
    send("Space\nR\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 44100; }, 20000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains(": 0 dBFS = 134.0 dB\n")) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains("fieldmeter: calibrated on ")) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains(", LAeq 114.0 dB\n")) << stderr_.toStdString();
    EXPECT_TRUE(fs::exists(docsPath() / "output2.txt"));
}

// Samples of a file made of parts: white noise at about -85 dBFS, a 1 kHz tone falling from -20 to
// -40 dBFS, a steady 1 kHz tone at -20 dBFS; `seconds` each.
std::vector<std::int16_t> referenceTrials(double quiet, double falling, double steady) {
    std::vector<std::int16_t> s;
    std::uint32_t noise = 12345;
    for (int i = 0; i < quiet * 44100; ++i) {
        noise = noise * 1664525u + 1013904223u;
        s.push_back(static_cast<std::int16_t>(static_cast<int>((noise >> 16) % 7) - 3));
    }
    const auto tone = [&](double seconds, double fromDb, double toDb) {
        const int n = static_cast<int>(seconds * 44100);
        for (int i = 0; i < n; ++i) {
            const double db = fromDb + (toDb - fromDb) * i / n;
            const double peak =
                32768.0 * std::sqrt(2.0) * std::pow(10.0, db / 20.0) / std::sqrt(2.0);
            s.push_back(static_cast<std::int16_t>(std::lround(
                peak * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(s.size()) / 44100))));
        }
    };
    tone(falling, -20.0, -40.0);
    tone(steady, -20.0, -20.0);
    return s;
}

TEST_F(LevelsRun, KRefusesNearSilenceAFallingLevelAndTheDemoAndTakesASteadyTone) {
    // A settings file whose offset no microphone has is not believed.
    fs::create_directories(dir_ / "config" / "fieldmeter");
    std::ofstream(dir_ / "config" / "fieldmeter" / "fieldmeter.conf")
        << "[calibration]\noffsetDb=1e308\ndate=2026-12-01T09:30:00Z\n";
    const auto samples = referenceTrials(5.0, 5.0, 6.0);
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open((dir_ / "trials.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    const fs::path log = dir_ / "levels.csv";
    start({"--input", QString::fromStdString((dir_ / "trials.wav").string()), "--log",
           QString::fromStdString(log.string()), "--duration", "17"});
    ASSERT_TRUE(waitForMessage("offsetDb=1e308 is not between 60 and 160 dB; the levels are dBFS"))
        << stderr_.toStdString();
    // Each K once the log shows the part it is meant for has begun.
    auto rowWhere = [&](const std::function<bool(double)>& test) {
        return QTest::qWaitFor(
            [&] {
                std::ifstream in(log);
                std::string line;
                std::getline(in, line);
                const auto lzeq = QString::fromStdString(line).split(',').indexOf("LZeq_1s_dB");
                while (std::getline(in, line)) {
                    const auto fields = QString::fromStdString(line).split(',');
                    if (lzeq > 0 && fields.size() > lzeq && !fields[lzeq].isEmpty() &&
                        test(fields[lzeq].toDouble())) {
                        return true;
                    }
                }
                return false;
            },
            30000);
    };
    ASSERT_TRUE(rowWhere([](double lzeq) { return lzeq < -60.0; }));
    send("Space\nK\n");
    ASSERT_TRUE(waitForMessage("calibration refused: too quiet: the reference read -"))
        << stderr_.toStdString();
    ASSERT_TRUE(rowWhere([](double lzeq) { return lzeq > -45.0 && lzeq < -21.0; }));
    send("K\n");
    ASSERT_TRUE(waitForMessage("calibration refused: not steady: the level moved by "))
        << stderr_.toStdString();
    ASSERT_TRUE(rowWhere([](double lzeq) { return std::fabs(lzeq + 20.0) < 0.05; }));
    send("K\n");
    ASSERT_TRUE(waitForMessage("fieldmeter: calibrated: 0 dBFS = 114.0")) << stderr_.toStdString();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    // Rows after the calibration carry it; none before.
    std::ifstream in(log);
    std::string line;
    std::getline(in, line);
    int calibratedRows = 0;
    for (bool calibrated = false; std::getline(in, line);) {
        // calibrated, frames_dropped, lost_frames, clock_step_s, overload, the offset
        const bool now = line.find(",1,0,0,,0,114.") != std::string::npos;
        EXPECT_TRUE(!calibrated || now) << "a row went back to dBFS: " << line;
        calibrated = calibrated || now;
        calibratedRows += now ? 1 : 0;
    }
    EXPECT_GE(calibratedRows, 1);

    // The demo signal is never a reference.
    stderr_.clear();
    start({"--input", "demo", "--duration", "30"});
    send("Space\nK\n");
    ASSERT_TRUE(
        waitForMessage("fieldmeter: calibration: the demo signal is not sound: calibrate "
                       "from a microphone; nothing changed"))
        << stderr_.toStdString();
    process_.terminate();
    ASSERT_EQ(finish(), 0);
}

}  // namespace
}  // namespace fm::test
