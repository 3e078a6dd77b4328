// The real program capturing from a real PulseAudio server whose default source is a FIFO
// (run through scripts/with-sound-server.sh): what goes into the FIFO while recording is what
// "output2.caf" holds, sample for sample.
#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

// Feeds the signal into the FIFO over and over, at the pace the server reads it, until
// stopped: a capture stream whose source runs dry would wait for data for ever.
class FifoWriter {
  public:
    FifoWriter(const char* path, std::vector<std::int16_t> samples) : samples_(std::move(samples)) {
        fd_ = ::open(path, O_WRONLY | O_NONBLOCK);
        if (fd_ >= 0) {
            thread_ = std::thread([this] { run(); });
        }
    }
    ~FifoWriter() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool opened() const { return fd_ >= 0; }
    std::string error() const { return error_; }

  private:
    void run() {
        const auto* start = reinterpret_cast<const char*>(samples_.data());
        const size_t total = samples_.size() * sizeof(std::int16_t);
        const char* bytes = start;
        size_t left = total;
        while (!stop_) {
            if (left == 0) {
                bytes = start;
                left = total;
            }
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;  // the server reads at real-time pace; look again
            }
            const ssize_t n = ::write(fd_, bytes, left);
            if (n < 0 && errno != EAGAIN) {
                error_ = std::string("write: ") + std::strerror(errno);
                return;
            }
            if (n > 0) {
                bytes += n;
                left -= static_cast<size_t>(n);
            }
        }
    }

    std::vector<std::int16_t> samples_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::string error_;
};

TEST_F(ProgramRun, RecordingFromTheSoundServerHoldsWhatWasCaptured) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    const auto signal = risingSine(6.0);
    FifoWriter writer(fifo, signal);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);

    start({"--duration", "8"});  // the microphone: the server's default source
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 44100; }, 30000))
        << "nothing was recorded";
    send("R\n");
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("no microphone")) << stderr_.toStdString();
    EXPECT_TRUE(writer.error().empty()) << writer.error();

    auto recorded = readAll(caf);
    // The source gives silence until the first samples reach it; then every sample counts.
    const auto first =
        std::find_if(recorded.begin(), recorded.end(), [](auto v) { return v != 0; });
    recorded.erase(recorded.begin(), first);
    ASSERT_GT(recorded.size(), 22050u);
    // The signal went round and round; the recording may span several rounds.
    std::vector<std::int16_t> rounds;
    while (rounds.size() < recorded.size() + 2 * signal.size()) {
        rounds.insert(rounds.end(), signal.begin(), signal.end());
    }
    EXPECT_NE(findRun(rounds, recorded), std::string::npos)
        << "the recording is not a run of what went into the FIFO";
}

}  // namespace
}  // namespace fm::test
