// The real program capturing from a real PulseAudio server whose default source is a FIFO
// (run through scripts/with-sound-server.sh): what goes into the FIFO while recording is what
// "output2.caf" holds, sample for sample; and a program stopped for seconds loses none of it.
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tests/e2e/FifoWriter.h"
#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

TEST_F(ProgramRun, RecordingFromTheSoundServerHoldsWhatWasCaptured) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    const auto signal = risingSine(6.0);
    FifoWriter writer(fifo, signal, true);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);

    start({});  // the microphone: the server's default source
    send("Space\nR\n");
    // Ended once a second of the signal is in the file, however late a busy machine starts.
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return samplesAfterSilence(caf) >= 44100; }, 30000))
        << "the signal was not recorded; the sound server took " << writer.written()
        << " bytes from " << fifo;
    // Ended by the key, then the program by a signal, once the recording's summary is written:
    // events, not a duration that a busy machine may use up before anything was recorded.
    send("R\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(docsPath() / "output2.txt"); }, 30000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("no microphone")) << stderr_.toStdString();
    EXPECT_TRUE(writer.error().empty()) << writer.error();

    // Every sample counts, from the first: the stream's first call, before anything was read, adds
    // no block of zeros.
    expectRunOfLoopedSignal(caf, signal);
}

TEST_F(ProgramRun, AProgramStoppedForEightSecondsLosesNoAudioAndEachSecondKeepsItsTime) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    FifoWriter writer(fifo, risingSine(6.0), true);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);
    const fs::path log = dir_ / "levels.csv";
    start({"--log", QString::fromStdString(log.string())});
    auto micRows = [&] {
        auto rows = logRows(log);
        std::erase_if(rows, [](auto& row) { return row["input"] != "mic"; });
        return rows;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return micRows().size() >= 3; }, 30000)) << "no rows";
    // The whole program stops, as on a machine that stalls; the sound server keeps the audio.
    ASSERT_EQ(::kill(static_cast<pid_t>(process_.processId()), SIGSTOP), 0);
    const double stoppedMs = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    std::this_thread::sleep_for(std::chrono::seconds(8));
    ASSERT_EQ(::kill(static_cast<pid_t>(process_.processId()), SIGCONT), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto rows = micRows();
            return !rows.empty() && msOf(rows.back().at("time_utc")) > stoppedMs + 12000;
        },
        30000))
        << "no rows after the stop";
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("clock stepped")) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("lost")) << stderr_.toStdString();

    // One row a second of audio across the stop: none missing, none bunched together.
    const auto rows = micRows();
    EXPECT_LT(msOf(rows.front().at("time_utc")), stoppedMs - 1000);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("lost_frames"), "0");
        EXPECT_NEAR(msOf(rows[i].at("time_utc")) - msOf(rows[i - 1].at("time_utc")), 1000.0, 50.0)
            << rows[i].at("time_utc").toStdString();
    }
}

// A stereo device is captured whole and mixed here: 100 full-scale samples a second in the left
// channel under a silent right are overloads, though their mix is at half scale.
TEST_F(ProgramRun, AnOverloadInOneChannelOfAStereoDeviceIsSeen) {
    const char* server = std::getenv("FM_SOUND_SERVER_DIR");
    ASSERT_NE(server, nullptr) << "run through scripts/with-sound-server.sh";
    const std::string fifo = std::string(server) + "/stereo.fifo";
    ASSERT_EQ(std::system(("pactl load-module module-pipe-source source_name=fm_stereo file=" +
                           fifo + " format=s16le rate=44100 channels=2 >/dev/null")
                              .c_str()),
              0);
    std::vector<std::int16_t> second(2 * 44100, 0);
    for (std::size_t i = 0; i < 100; ++i) {
        second[2 * (400 * i)] = 32767;
    }
    FifoWriter writer(fifo.c_str(), second);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);

    start({"--capture-device", "stereo.fifo", "--log", docs() + "/levels.csv"});
    auto overloads = [&] {
        QFile log(docs() + "/levels.csv");
        log.open(QIODevice::ReadOnly);
        const QStringList lines = QString(log.readAll()).split('\n', Qt::SkipEmptyParts);
        const qsizetype column = lines.value(0).split(',').indexOf("overload");
        std::vector<int> counts;
        for (const QString& line : lines.mid(1)) {
            counts.push_back(line.section(',', column, column).toInt());
        }
        return counts;
    };
    // The first second may begin before the samples do; the next three are whole.
    ASSERT_TRUE(QTest::qWaitFor([&] { return overloads().size() >= 4; }, 30000))
        << stderr_.toStdString();
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    const auto counts = overloads();
    int total = 0;
    for (std::size_t s = 1; s < 4; ++s) {
        EXPECT_GT(counts[s], 0) << s;
        total += counts[s];
    }
    EXPECT_NEAR(total, 300, 100);  // a block's count goes with it, near a second's edge
}

}  // namespace
}  // namespace fm::test
