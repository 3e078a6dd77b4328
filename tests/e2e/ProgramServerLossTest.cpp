// The real program capturing from a real PulseAudio server (scripts/with-sound-server.sh) when
// that server is killed in the middle of a recording, and when it comes back.
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/e2e/FifoWriter.h"
#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

// Clock ticks of CPU time the process has used, from /proc.
long cpuTicks(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

TEST_F(ProgramRun, ADeadSoundServerEndsTheRecordingCleanlyAndSaysSoOnce) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    const char* serverPid = std::getenv("FM_SOUND_SERVER_PID");
    ASSERT_TRUE(fifo != nullptr && serverPid != nullptr)
        << "run through scripts/with-sound-server.sh";
    ::signal(SIGPIPE, SIG_IGN);  // the FIFO loses its reader with the server
    const auto signal = risingSine(6.0);
    FifoWriter writer(fifo, signal, true);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);

    start({"--duration", "60"});
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return samplesAfterSilence(caf) >= 44100; }, 30000))
        << "the signal was not recorded";

    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(serverPid)), SIGKILL), 0);
    const QString lost = "microphone lost (";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            stderr_ += QString::fromUtf8(process_.readAllStandardError());
            return stderr_.contains(lost);
        },
        20000))
        << stderr_.toStdString();

    // The recording ends as the record button would end it: its motion file comes last. From
    // then on the file does not grow and the program does not spin: measured over the next two
    // saves of the screen (one a second).
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(docsPath() / "rawAccel.out"); }, 20000));
    const auto size = fileSize(caf);
    const auto png = docsPath() / "screen.png";
    const long ticksBefore = cpuTicks(process_.processId());
    QElapsedTimer wall;
    wall.start();
    for (int saves = 0; saves < 2; ++saves) {
        const auto stamp = fs::last_write_time(png);
        ASSERT_TRUE(QTest::qWaitFor([&] { return fs::last_write_time(png) != stamp; }, 10000));
    }
    const double cpuSeconds =
        static_cast<double>(cpuTicks(process_.processId()) - ticksBefore) / ::sysconf(_SC_CLK_TCK);
    EXPECT_LT(cpuSeconds, 0.5 * wall.elapsed() / 1000.0) << "the program spins";
    EXPECT_EQ(fileSize(caf), size);

    // The server comes back: the microphone is tried again until it answers, and the meters
    // measure again, while the recording that ended stays as it was.
    QProcess restart;
    restart.start(FM_SOURCE_DIR "/scripts/start-sound-server.sh",
                  {qEnvironmentVariable("FM_SOUND_SERVER_DIR")});
    ASSERT_TRUE(restart.waitForFinished(60000));
    ASSERT_EQ(restart.exitCode(), 0) << restart.readAllStandardError().toStdString();
    const pid_t again = static_cast<pid_t>(restart.readAllStandardOutput().trimmed().toLong());
    FifoWriter feed(fifo, signal);
    ASSERT_TRUE(feed.opened()) << fifo << ": " << std::strerror(errno);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            stderr_ += QString::fromUtf8(process_.readAllStandardError());
            return stderr_.contains("microphone is back; measuring again");
        },
        30000))
        << stderr_.toStdString();

    process_.terminate();
    const int status = finish();
    ::kill(again, SIGTERM);
    ASSERT_EQ(status, 0) << stderr_.toStdString();
    EXPECT_EQ(stderr_.count(lost), 1) << stderr_.toStdString();
    EXPECT_EQ(fileSize(caf), size);

    // The recording holds what was captured before the loss, readable and nothing repeated.
    expectRunOfLoopedSignal(caf, signal);
}

}  // namespace
}  // namespace fm::test
