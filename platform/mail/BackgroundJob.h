#pragma once
// Work that touches large files (building a message, writing a WAV) runs on a thread of its
// own, so the screen keeps moving; its result comes back on the main thread.
#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace fm::platform {

class BackgroundJob {
  public:
    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    // Asks a job still running to stop, and waits for it: the work checks `cancelled`.
    ~BackgroundJob() {
        cancelled_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Runs work(cancelled) on its own thread, then done(result) from context's event loop,
    // unless context is gone by then. The job must be destroyed (it waits) before context and
    // before anything the work uses.
    template <typename Result>
    void run(QObject* context, std::function<Result(const std::atomic<bool>& cancelled)> work,
             std::function<void(Result)> done) {
        if (thread_.joinable()) {
            thread_.join();
        }
        cancelled_ = false;
        thread_ = std::thread([this, context, work = std::move(work), done = std::move(done)] {
            Result result = work(cancelled_);
            QMetaObject::invokeMethod(
                context, [done, result = std::move(result)] { done(result); },
                Qt::QueuedConnection);
        });
    }

  private:
    std::thread thread_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace fm::platform
