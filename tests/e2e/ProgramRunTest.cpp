// Runs the real program headless and checks what it leaves behind: its exit status, its
// messages, screen.png and the recording.
#include <sys/stat.h>

#include <fstream>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

TEST_F(ProgramRun, HeadlessRunOnAFileEndsAfterItsDurationAndLeavesTheScreen) {
    writeInput(dir_ / "in.wav", 4.0);
    start({"--input", QString::fromStdString((dir_ / "in.wav").string()), "--duration", "3"});
    send("Space\n");  // tap the cover away
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    const QString expected = "saving the screen to " + docs() + "/screen.png every second";
    EXPECT_TRUE(stderr_.contains(expected)) << stderr_.toStdString();

    QImage screen(QString::fromStdString((docsPath() / "screen.png").string()));
    ASSERT_FALSE(screen.isNull());
    EXPECT_EQ(screen.size(), QSize(320, 480));
    EXPECT_FALSE(fs::exists(docsPath() / "screen.png.part"));
    // The record button's red dot, the amber seven-segment level, the yellow waveform.
    EXPECT_GT(countPixels(screen, QRect(20, 346, 20, 20),
                          [](QColor c) { return c.red() > 180 && c.green() < 110; }),
              100);
    EXPECT_GT(
        countPixels(screen, QRect(34, 190, 252, 70),
                    [](QColor c) { return c.red() > 200 && c.green() > 130 && c.blue() < 120; }),
        300);
    EXPECT_GT(
        countPixels(screen, QRect(0, 0, 320, 96),
                    [](QColor c) { return c.red() > 150 && c.green() > 150 && c.blue() < 90; }),
        100);
    // The engine made its files.
    EXPECT_TRUE(fs::exists(docsPath() / "output.wav"));
    EXPECT_TRUE(fs::exists(docsPath() / "output2.caf"));
}

TEST_F(ProgramRun, RecordingHoldsExactlyARunOfTheCapturedSamples) {
    const auto input = writeInput(dir_ / "in.wav", 8.0);
    start({"--input", QString::fromStdString((dir_ / "in.wav").string()), "--duration", "6"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    // Wait until about half a second is on its way to disk, then stop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 44100; }, 20000));
    send("R\n");
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    const auto recorded = readAll(caf);
    ASSERT_GT(recorded.size(), 22050u);
    // The recorded run starts somewhere in the input and matches it sample for sample.
    EXPECT_NE(findRun(input, recorded), std::string::npos)
        << "the recording is not a run of the input";
    // The motion taken meanwhile was written beside it.
    EXPECT_TRUE(fs::exists(docsPath() / "rawAccel.out"));
}

TEST_F(ProgramRun, TerminationWhileRecordingClosesTheRecording) {
    start({"--input", "demo"});
    send("R\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 20000; }, 20000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_GT(readAll(caf).size(), 10000u);
}

TEST_F(ProgramRun, WithoutADisplayItDrawsOffScreenAndSaysSo) {
    start({"--input", "demo", "--duration", "1"}, /*headlessOption=*/false);
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_TRUE(
        stderr_.contains("fieldmeter: no display found; drawing off screen and saving the "
                         "screen to " +
                         docs() + "/screen.png every second"))
        << stderr_.toStdString();
    EXPECT_TRUE(fs::exists(docsPath() / "screen.png"));
}

TEST_F(ProgramRun, AnUnreadableInputFallsBackToTheDemoSignalWithOneLine) {
    start({"--input", QString::fromStdString((dir_ / "missing.wav").string()), "--duration", "1"});
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains("fieldmeter: cannot play " +
                                 QString::fromStdString((dir_ / "missing.wav").string())))
        << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains("; playing the demo signal")) << stderr_.toStdString();
}

TEST_F(ProgramRun, OptionsAreCheckedBeforeAnythingStarts) {
    start({"--scale", "0"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(
        stderr_.contains("fieldmeter: --scale: needs a number above 0 and at most 8 (see --help)"))
        << stderr_.toStdString();

    stderr_.clear();
    start({"--no-such-option", "--duration", "1"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(stderr_.contains("unknown option --no-such-option")) << stderr_.toStdString();

    start({"--help"});
    EXPECT_EQ(finish(), 0);
    const QString help = QString::fromUtf8(process_.readAllStandardOutput());
    EXPECT_TRUE(help.contains("--input FILE|demo")) << help.toStdString();

    start({"--version"});
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(QString::fromUtf8(process_.readAllStandardOutput()).startsWith("fieldmeter "));
}

TEST_F(ProgramRun, InputsThatNeverEndOrNeverAnswerAreRefusedWithoutHanging) {
    const std::string inFifo = (dir_ / "in.fifo").string();
    const std::string motionFifo = (dir_ / "motion.fifo").string();
    ASSERT_EQ(::mkfifo(inFifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(motionFifo.c_str(), 0600), 0);
    start({"--input", QString::fromStdString(inFifo), "--motion",
           QString::fromStdString(motionFifo), "--duration", "1"});
    ASSERT_EQ(finish(30000), 0) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains(
        QString::fromStdString("cannot play " + inFifo + ": " + inFifo + ": not a regular file")))
        << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains(
        QString::fromStdString("cannot replay motion: " + motionFifo + ": not a regular file")))
        << stderr_.toStdString();

    // A device that never ends, as the motion file.
    stderr_.clear();
    start({"--input", "demo", "--motion", "/dev/zero", "--duration", "1"});
    ASSERT_EQ(finish(30000), 0) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains("cannot replay motion: /dev/zero: not a regular file"))
        << stderr_.toStdString();

    // A FIFO where the recording goes: refused with a reason, and the program runs on.
    stderr_.clear();
    const std::string cafFifo = (docsPath() / "output2.caf").string();
    fs::remove(cafFifo);  // the last run's recording
    ASSERT_EQ(::mkfifo(cafFifo.c_str(), 0600), 0);
    start({"--input", "demo", "--duration", "2"});
    send("R\n");
    ASSERT_EQ(finish(30000), 0) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains(QString::fromStdString(
        "cannot create " + cafFifo + ": a FIFO or socket is in its place, not a regular file")))
        << stderr_.toStdString();
    EXPECT_TRUE(fs::exists(docsPath() / "screen.png"));
}

TEST_F(ProgramRun, AWallClockThatRacesAheadDoesNotStretchTheMotionFile) {
    // libfaketime runs the wall clock ten times too fast (as a clock set forward again and
    // again would); the monotonic clock keeps real time.
    const char* faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (!fs::exists(faketime)) {
        GTEST_SKIP() << "faketime is not installed";
    }
    const auto motion = dir_ / "motion.csv";
    std::ofstream(motion) << "0,0.5,0\n1,0.7,0\n2,0.3,0\n";
    extraEnv_.insert("LD_PRELOAD", faketime);
    extraEnv_.insert("FAKETIME", "+0 x10");
    extraEnv_.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    extraEnv_.insert("ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0");
    start({"--input", "demo", "--motion", QString::fromStdString(motion.string()), "--duration",
           "60"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 2 * 88200; }, 30000));
    send("R\n");
    const auto raw = docsPath() / "rawAccel.out";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(raw) > 44; }, 30000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    // The motion file lasts as long as the recording beside it, not ten times as long.
    const auto recorded = readAll(caf).size();
    const auto motionSamples = (fileSize(raw) - 44) / 2;
    EXPECT_GT(motionSamples, recorded / 2);
    EXPECT_LT(motionSamples, recorded + 44100 / 2) << recorded << " samples of sound";
}

}  // namespace
}  // namespace fm::test
