// The controller's side of motion sensing: accelerometer samples into the rings, and the
// gyroscope and attitude updates.
#include "recording/MotionSensing.h"
#include "screen/ViewController.h"

namespace fm::screen {

void ViewController::accelerometerDidAccelerate(fm::platform::Accelerometer*,
                                                const fm::platform::Acceleration& acceleration) {
    fm::recording::storeAccelSample(acceleration.z, fm::recording::secondsSince1970());
}

void ViewController::toggleUpdates() {
    if (!fm::recording::motionUpdatesOn) {
        fm::recording::motionUpdatesOn = true;
        motionManager->startGyroUpdates();
        motionManager->startDeviceMotionUpdates();
        // A replaced timer that still ran could never be stopped again.
        if (gyroTimer_) {
            gyroTimer_->invalidate();
        }
        gyroTimer_ = fm::toolkit::ScheduledTimer::scheduledTimer(
            1.0 / 30.0, [this](fm::toolkit::ScheduledTimer*) { doGyroUpdate(); });
        return;
    }
    motionManager->stopGyroUpdates();
    if (gyroTimer_) {
        gyroTimer_->invalidate();
    }
}

void ViewController::doGyroUpdate() {
    fm::platform::RotationRate rate;  // zeros until the first sample
    if (auto data = motionManager->gyroData()) {
        rate = data->rotationRate;
    }
    (void)rate;  // nothing reads the rate; the direction comes from the attitude's yaw
}

}  // namespace fm::screen
