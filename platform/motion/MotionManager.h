#pragma once
// The motion manager in pull mode: once started, the latest gyroscope sample and the device's
// attitude are read on demand from the process-wide motion source.
#include <optional>

#include "platform/motion/MotionReading.h"

namespace fm::platform {

struct GyroData {
    RotationRate rotationRate;
};

struct Attitude {
    double yaw = 0.0;  // radians, in [-pi, pi]
};

struct DeviceMotion {
    Attitude attitude;
};

class MotionManager {
  public:
    void startGyroUpdates() { gyroActive_ = true; }
    void stopGyroUpdates() { gyroActive_ = false; }
    bool isGyroActive() const { return gyroActive_; }
    void startDeviceMotionUpdates() { deviceMotionActive_ = true; }
    void stopDeviceMotionUpdates() { deviceMotionActive_ = false; }
    bool isDeviceMotionActive() const { return deviceMotionActive_; }

    // The latest gyroscope sample; nothing while stopped or without a gyroscope.
    std::optional<GyroData> gyroData() const;
    // The latest attitude; nothing while stopped. Its yaw is the source's yaw (0 when the
    // source has none) plus the turn given by hand.
    std::optional<DeviceMotion> deviceMotion() const;

  private:
    bool gyroActive_ = false;
    bool deviceMotionActive_ = false;
};

}  // namespace fm::platform
