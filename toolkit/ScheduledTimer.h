#pragma once
// Repeating timers on the main event loop (scheduledTimerWithTimeInterval:...repeats:YES).
// The loop keeps every scheduled timer until it is invalidated: the creator may drop its
// handle and the timer still fires. Each firing calls the callback with the timer itself, so the
// callback can invalidate it. A handle stays safe to use after invalidation (isValid() is then
// false); the timer is freed once the loop and every handle have let go.
#include <QTimer>
#include <functional>
#include <memory>

namespace fm::toolkit {

class ScheduledTimer : public std::enable_shared_from_this<ScheduledTimer> {
  public:
    using Callback = std::function<void(ScheduledTimer*)>;

    // Starts a repeating timer every `intervalSeconds` (at least 1 ms) on the main loop.
    static std::shared_ptr<ScheduledTimer> scheduledTimer(double intervalSeconds,
                                                          Callback callback);

    ~ScheduledTimer();
    ScheduledTimer(const ScheduledTimer&) = delete;
    ScheduledTimer& operator=(const ScheduledTimer&) = delete;

    // Stops the timer for good and lets the loop release it. Safe to call more than once and
    // from inside the callback.
    void invalidate();
    bool isValid() const { return valid_; }
    double timeInterval() const { return interval_; }
    // How many times the timer has fired.
    long fireCount() const { return fires_; }

    // Timers the loop is keeping now.
    static std::size_t scheduledCount();

  private:
    struct Token {};

  public:
    ScheduledTimer(Token, double intervalSeconds, Callback callback);

  private:
    void fire();

    QTimer timer_;
    Callback callback_;
    double interval_;
    bool valid_ = true;
    long fires_ = 0;
};

}  // namespace fm::toolkit
