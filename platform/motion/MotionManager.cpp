#include "platform/motion/MotionManager.h"

#include "platform/motion/MotionSource.h"

namespace fm::platform {

std::optional<GyroData> MotionManager::gyroData() const {
    if (!gyroActive_) {
        return std::nullopt;
    }
    auto rate = motionSource().rotationRate();
    if (!rate) {
        return std::nullopt;
    }
    return GyroData{*rate};
}

std::optional<DeviceMotion> MotionManager::deviceMotion() const {
    if (!deviceMotionActive_) {
        return std::nullopt;
    }
    const double sourceYaw = motionSource().yaw().value_or(0.0);
    return DeviceMotion{Attitude{wrapAngle(sourceYaw + manualTurn())}};
}

}  // namespace fm::platform
