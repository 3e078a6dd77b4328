// The real program capturing from a real PulseAudio server whose default source is a FIFO
// (run through scripts/with-sound-server.sh): what goes into the FIFO while recording is what
// "output2.caf" holds, sample for sample.
#include <cerrno>
#include <cstring>

#include "tests/e2e/FifoWriter.h"
#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

TEST_F(ProgramRun, RecordingFromTheSoundServerHoldsWhatWasCaptured) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    const auto signal = risingSine(6.0);
    FifoWriter writer(fifo, signal);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);

    start({});  // the microphone: the server's default source
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 44100; }, 30000))
        << "nothing was recorded";
    // Ended by the key, then the program by a signal, once the recording's summary is written:
    // events, not a duration that a busy machine may use up before anything was recorded.
    send("R\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(docsPath() / "output2.txt"); }, 30000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("no microphone")) << stderr_.toStdString();
    EXPECT_TRUE(writer.error().empty()) << writer.error();

    // The source gives silence until the first samples reach it; then every sample counts.
    expectRunOfLoopedSignal(caf, signal);
}

}  // namespace
}  // namespace fm::test
