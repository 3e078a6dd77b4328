// The real program calibrated with K from a reference tone, headless: the recording's LAeq
// beside it, the next run starting calibrated, and a recording ended with the program. Its
// settings live in the test's folder.
#include <QFile>

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

}  // namespace
}  // namespace fm::test
