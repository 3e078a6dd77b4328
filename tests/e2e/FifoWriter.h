#pragma once
// Feeds samples into the sound server's FIFO source (scripts/with-sound-server.sh).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace fm::test {

// Feeds the signal into the FIFO over and over, at the pace the server reads it, until
// stopped: a capture stream whose source runs dry would wait for data for ever. The FIFO source
// keeps no clock of its own: `realTime` feeds it as a device captures, 44,100 frames a second,
// so that the server holds what a stopped client has not read yet.
class FifoWriter {
  public:
    FifoWriter(const char* path, std::vector<std::int16_t> samples, bool realTime = false)
        : samples_(std::move(samples)), realTime_(realTime) {
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
    // Bytes the server has taken from the FIFO so far, give or take the pipe's own buffer.
    std::uint64_t written() const { return written_.load(); }

  private:
    void run() {
        const auto* start = reinterpret_cast<const char*>(samples_.data());
        const size_t total = samples_.size() * sizeof(std::int16_t);
        const char* bytes = start;
        size_t left = total;
        const auto began = std::chrono::steady_clock::now();
        std::uint64_t written = 0;
        while (!stop_) {
            if (left == 0) {
                bytes = start;
                left = total;
            }
            std::size_t allowed = left;
            if (realTime_) {  // 0.1 s at a time, never more than that ahead of the clock
                std::this_thread::sleep_until(began +
                                              std::chrono::microseconds(written * 10000 / 882));
                allowed = std::min<std::size_t>(left, 8820 - written % 8820);
            }
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;  // the server reads at real-time pace; look again
            }
            const ssize_t n = ::write(fd_, bytes, allowed);
            if (n < 0 && errno != EAGAIN) {
                error_ = std::string("write: ") + std::strerror(errno);
                return;
            }
            if (n > 0) {
                bytes += n;
                left -= static_cast<size_t>(n);
                written += static_cast<std::uint64_t>(n);
                written_.store(written);
            }
        }
    }

    std::vector<std::int16_t> samples_;
    bool realTime_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> written_{0};
    std::string error_;
};

}  // namespace fm::test
