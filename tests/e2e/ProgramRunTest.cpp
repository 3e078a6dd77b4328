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
    // Ended as the record button ends it: the motion taken meanwhile is written beside it.
    EXPECT_TRUE(fs::exists(docsPath() / "rawAccel.out"));
}

TEST_F(ProgramRun, MailKeysReachOneComposerAndTheScreenKeepsRunningWhileSendmailWorks) {
    // The fake sendmail says it has started, then waits for "go" before it reads the message.
    const fs::path fake = dir_ / "sendmail";
    const fs::path sent = dir_ / "sent.eml";
    {
        std::ofstream(fake) << "#!/bin/sh\ntouch '" << (dir_ / "started").string()
                            << "'\nwhile [ ! -e '" << (dir_ / "go").string()
                            << "' ]; do sleep 0.02; done\ncat > '" << sent.string()
                            << ".part' && mv '" << sent.string() << ".part' '" << sent.string()
                            << "'\n";
        fs::permissions(fake, fs::perms::owner_all);
    }
    setenv("SENDMAIL", fake.c_str(), 1);
    start({"--input", "demo"});
    unsetenv("SENDMAIL");
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 20000; }, 20000));
    // M twice opens one composer: one Escape closes it, and the next M opens a new one.
    send("R\nM\nM\nEscape\nM\nReturn\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir_ / "started"); }, 20000));
    // While sendmail waits, the screen is still saved every second.
    const auto screen = docsPath() / "screen.png";
    auto stamp = fs::last_write_time(screen);
    for (int saves = 0; saves < 2; ++saves) {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                std::error_code ec;
                const auto now = fs::last_write_time(screen, ec);
                return !ec && now != stamp;
            },
            10000));
        stamp = fs::last_write_time(screen);
    }
    std::ofstream(dir_ / "go").put('\n');
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(sent); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            stderr_ += QString::fromUtf8(process_.readAllStandardError());
            return stderr_.contains("Mail send:");
        },
        20000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_EQ(stderr_.count("Mail cancelled:"), 1) << stderr_.toStdString();
    EXPECT_EQ(stderr_.count("Mail send:"), 1) << stderr_.toStdString();

    // The attachment, read by an independent parser, holds the recording's samples.
    const fs::path wav = dir_ / "attached.wav";
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c",
                  "import email, sys\n"
                  "from email import policy\n"
                  "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), "
                  "policy=policy.default)\n"
                  "a = list(m.iter_attachments())\n"
                  "open(sys.argv[2], 'wb').write(a[0].get_content())\n",
                  QString::fromStdString(sent.string()), QString::fromStdString(wav.string())});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const auto recorded = readAll(caf);
    ASSERT_GT(recorded.size(), 10000u);
    EXPECT_EQ(readAll(wav), recorded);
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

TEST_F(ProgramRun, AnUnusableDocumentsFolderIsSaidOnceAndAgainWhenItChanges) {
    // The documents folder lies under a file: it cannot be made.
    const fs::path blocker = dir_ / "blocker";
    std::ofstream(blocker) << "x";
    const QString folder = QString::fromStdString((blocker / "docs").string());
    QString out;
    QString err;
    auto readOutput = [&] {
        out += QString::fromUtf8(process_.readAllStandardOutput());
        err += QString::fromUtf8(process_.readAllStandardError());
    };
    // Each start of a recording restarts the engine, which says so on standard output.
    auto engineRestarts = [&] {
        readOutput();
        return out.count("stopRecording");
    };
    start({"--input", "demo", "--documents", folder});
    // A recording cannot start without its file: said on standard error and in an alert (which
    // Return closes). The motion list and the screen saved every second need the folder too.
    send("Space\nR\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            readOutput();
            return err.contains("fieldmeter: nothing is recorded: ");
        },
        20000))
        << err.toStdString();
    send("Return\nE\nR\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            readOutput();
            return err.count("fieldmeter: nothing is recorded: ") == 2;
        },
        20000))
        << err.toStdString();
    EXPECT_EQ(engineRestarts(), 2);
    EXPECT_FALSE(fs::exists(blocker / "docs" / "output2.txt"));
    const QString unusable = "fieldmeter: documents folder unusable: " + folder + ": ";
    EXPECT_EQ(err.count(unusable), 1) << err.toStdString();
    EXPECT_EQ(err.count("Not a directory"), 1) << err.toStdString();  // nothing else says it

    // Once the folder can be made, the next start of a recording says so, once, and records.
    fs::remove(blocker);
    send("Return\nR\nR\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return engineRestarts() == 3; }, 20000)) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(blocker / "docs" / "screen.png"); }, 5000));
    process_.terminate();
    ASSERT_EQ(finish(), 0);
    err += stderr_;
    EXPECT_EQ(err.count("fieldmeter: documents folder " + folder + " is usable again"), 1)
        << err.toStdString();
    EXPECT_EQ(err.count(unusable), 1) << err.toStdString();
    EXPECT_TRUE(fs::exists(blocker / "docs" / "output2.caf"));
}

TEST_F(ProgramRun, OptionsAreCheckedBeforeAnythingStarts) {
    start({"--scale", "0"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(
        stderr_.contains("fieldmeter: --scale: needs a number above 0 and at most 8 (see --help)"))
        << stderr_.toStdString();

    // An unknown option is all that is said, before a display is looked for or a file made.
    const fs::path home = dir_ / "home";
    fs::create_directories(home);
    extraEnv_.insert("HOME", QString::fromStdString(home.string()));
    stderr_.clear();
    start({"--bogus", "--documents", QString::fromStdString((home / "docs").string())}, false);
    EXPECT_EQ(finish(), 2);
    EXPECT_EQ(stderr_, "fieldmeter: unknown option --bogus (see --help)\n");
    EXPECT_TRUE(fs::is_empty(home));
    start({"-style", "fusion", "--screen-every", "0", "--duration", "1"});  // Qt's own pass
    EXPECT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains("drawing off screen; not saving the screen (--screen-every 0)"));
    EXPECT_FALSE(fs::exists(docsPath() / "screen.png"));

    start({"--help"});
    EXPECT_EQ(finish(), 0);
    const QString help = QString::fromUtf8(process_.readAllStandardOutput());
    EXPECT_TRUE(help.contains("--input FILE|demo")) << help.toStdString();

    start({"--version"});
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(QString::fromUtf8(process_.readAllStandardOutput()).startsWith("fieldmeter "));
}

// More milliseconds than a Qt timer counts: the end is neither ignored nor brought forward.
TEST_F(ProgramRun, ADurationOfThirtyFiveDaysKeepsRunning) {
    start({"--input", "demo", "--duration", "3000000"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(docsPath() / "screen.png"); }, 20000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("Timers cannot")) << stderr_.toStdString();
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
    EXPECT_TRUE(stderr_.contains(
        QString::fromStdString("cannot create " + cafFifo + ": not a regular file")))
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
