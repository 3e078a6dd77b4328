#include "deliver/Worker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/cpu/VectorState.h"

namespace fm::deliver {

Worker::Worker() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Worker::~Worker() {
    if (thread_.joinable()) thread_.detach();  // only when the body owns this worker
    if (fd_ >= 0) ::close(fd_);
}

void Worker::start(std::function<void()> body) {
    std::promise<void> done;
    finished_ = done.get_future();
    thread_ = std::thread([body = std::move(body), done = std::move(done)]() mutable {
        platform::clearUpperVectorState();
        body();
        done.set_value();
    });
}

void Worker::stop(std::chrono::milliseconds limit) {
    stop_.store(true, std::memory_order_release);
    wake();
    if (!thread_.joinable()) return;
    if (finished_.wait_for(limit) == std::future_status::ready) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void Worker::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

bool Worker::sleep(std::chrono::milliseconds duration) {
    pollfd p{fd_, POLLIN, 0};
    if (!stopping() && ::poll(&p, 1, static_cast<int>(duration.count())) > 0) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    }
    return !stopping();
}

bool Worker::sleepUntil(std::chrono::steady_clock::time_point deadline) {
    while (!stopping()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        sleep(left);
    }
    return !stopping();
}

}  // namespace fm::deliver
