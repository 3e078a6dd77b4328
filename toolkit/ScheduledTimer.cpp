#include "toolkit/ScheduledTimer.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <vector>

namespace fm::toolkit {
namespace {

// What the event loop holds: one strong reference per valid timer. It lives as a child of the
// application object, so the timers stop while Qt is still there to stop them.
class LoopKeeper : public QObject {
  public:
    explicit LoopKeeper(QObject* parent) : QObject(parent) {}
    ~LoopKeeper() override {
        const auto timers = std::move(kept);
        kept.clear();
        for (const auto& timer : timers) {
            timer->invalidate();
        }
    }
    std::vector<std::shared_ptr<ScheduledTimer>> kept;
};

LoopKeeper* keeper() {
    static QPointer<LoopKeeper> instance;
    if (instance.isNull()) {
        instance = new LoopKeeper(QCoreApplication::instance());
    }
    return instance.data();
}

}  // namespace

ScheduledTimer::ScheduledTimer(Token, double intervalSeconds, Callback callback)
    : callback_(std::move(callback)), interval_(intervalSeconds) {
    // Within 5% of the interval, as the system's own timers allow: the meter's, the gyroscope's
    // and the accelerometer's wake-ups then fall together instead of one after another.
    timer_.setTimerType(Qt::CoarseTimer);
    const double ms = std::isfinite(intervalSeconds) ? intervalSeconds * 1000.0 : 1000.0;
    timer_.setInterval(static_cast<int>(std::clamp(std::lround(ms), 1L, 24L * 3600L * 1000L)));
    QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
}

ScheduledTimer::~ScheduledTimer() {
    timer_.stop();
}

std::shared_ptr<ScheduledTimer> ScheduledTimer::scheduledTimer(double intervalSeconds,
                                                               Callback callback) {
    auto timer = std::make_shared<ScheduledTimer>(Token{}, intervalSeconds, std::move(callback));
    keeper()->kept.push_back(timer);
    timer->timer_.start();
    return timer;
}

void ScheduledTimer::fire() {
    if (!valid_) {
        return;
    }
    // Held for the call: the callback may invalidate the timer and drop the last reference.
    const std::shared_ptr<ScheduledTimer> self = shared_from_this();
    ++fires_;
    if (callback_) {
        callback_(this);
    }
}

void ScheduledTimer::invalidate() {
    if (!valid_) {
        return;
    }
    valid_ = false;
    timer_.stop();
    LoopKeeper* k = keeper();
    const auto it = std::find_if(k->kept.begin(), k->kept.end(),
                                 [this](const auto& kept) { return kept.get() == this; });
    if (it != k->kept.end()) {
        // Released outside this call, so a timer invalidating itself is not freed under its feet.
        std::shared_ptr<ScheduledTimer> released = std::move(*it);
        k->kept.erase(it);
        QMetaObject::invokeMethod(
            k, [released = std::move(released)]() mutable { released.reset(); },
            Qt::QueuedConnection);
    }
}

std::size_t ScheduledTimer::scheduledCount() {
    return keeper()->kept.size();
}

}  // namespace fm::toolkit
