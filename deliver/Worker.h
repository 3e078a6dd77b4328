#pragma once
// The thread of a delivery: it sleeps until woken (a new message, a stop) or a time passes, and
// is stopped with a bounded wait. Its body should own what it uses (a shared_ptr), since a
// thread stuck past the wait (in name resolution, say) is left to finish on its own.
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace fm::deliver {

class Worker {
  public:
    Worker();
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void start(std::function<void()> body);
    void stop(std::chrono::milliseconds limit);
    void wake();
    bool stopping() const { return stop_.load(std::memory_order_acquire); }
    // Readable after wake(); for a poll of the thread's own.
    int wakeFd() const { return fd_; }
    // Sleeps until woken or `duration` passed; false when stopping.
    bool sleep(std::chrono::milliseconds duration);
    // Sleeps until `deadline`, ignoring wake-ups other than stop; false when stopping.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    const std::atomic<bool>* stopFlag() const { return &stop_; }

  private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::future<void> finished_;
};

}  // namespace fm::deliver
