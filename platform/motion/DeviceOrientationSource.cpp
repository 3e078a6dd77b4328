#include "platform/motion/DeviceOrientationSource.h"

namespace fm::platform {

DeviceOrientationSource* DeviceOrientationSource::currentDevice() {
    static DeviceOrientationSource* device = new DeviceOrientationSource();
    return device;
}

void DeviceOrientationSource::setOrientation(DeviceOrientation orientation) {
    if (orientation == orientation_) {
        return;
    }
    orientation_ = orientation;
    emit orientationDidChange(orientation);
}

void DeviceOrientationSource::noteGravity(const Acceleration& g) {
    setOrientation(orientationFromGravity(g, orientation_));
}

}  // namespace fm::platform
