#include "platform/motion/Accelerometer.h"

#include <cmath>

#include "platform/motion/DeviceOrientationSource.h"
#include "platform/motion/MotionSource.h"

namespace fm::platform {

Accelerometer* Accelerometer::sharedAccelerometer() {
    static Accelerometer* shared = new Accelerometer();  // lives as long as the process
    return shared;
}

Accelerometer::Accelerometer() {
    // Within 5% of the interval, which lets the system fold these wakeups in with others; the
    // rate stays 100 samples a second and each sample keeps its own clock time.
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &Accelerometer::deliverSample);
}

void Accelerometer::setUpdateInterval(double seconds) {
    interval_ = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
    restart();
}

void Accelerometer::setDelegate(AccelerometerDelegate* delegate) {
    delegate_ = delegate;
    restart();
}

void Accelerometer::restart() {
    timer_.stop();
    if (delegate_ != nullptr && interval_ > 0.0) {
        timer_.start(std::max(1, static_cast<int>(std::lround(interval_ * 1000.0))));
    }
}

void Accelerometer::deliverSample() {
    auto sample = motionSource().acceleration();
    if (!sample) {
        return;
    }
    DeviceOrientationSource::currentDevice()->noteGravity(*sample);
    if (delegate_ != nullptr) {
        delegate_->accelerometerDidAccelerate(this, *sample);
    }
}

}  // namespace fm::platform
