#include "platform/motion/MotionReading.h"

#include <cmath>
#include <numbers>

namespace fm::platform {

DeviceOrientation orientationFromGravity(const Acceleration& g, DeviceOrientation previous) {
    const double ax = std::fabs(g.x);
    const double ay = std::fabs(g.y);
    const double az = std::fabs(g.z);
    const double total = std::sqrt(ax * ax + ay * ay + az * az);
    if (!std::isfinite(total) || total < 0.3) {
        return previous;  // free fall or no reading: nothing to go by
    }
    // An axis must carry clearly more than half of the pull before the orientation changes.
    constexpr double kDominance = 0.75;
    if (az >= kDominance * total) {
        return g.z <= 0.0 ? DeviceOrientationFaceUp : DeviceOrientationFaceDown;
    }
    if (ay >= kDominance * total) {
        return g.y <= 0.0 ? DeviceOrientationPortrait : DeviceOrientationPortraitUpsideDown;
    }
    if (ax >= kDominance * total) {
        return g.x <= 0.0 ? DeviceOrientationLandscapeLeft : DeviceOrientationLandscapeRight;
    }
    return previous;
}

double wrapAngle(double radians) {
    if (!std::isfinite(radians)) {
        return 0.0;
    }
    constexpr double kPi = std::numbers::pi;
    double a = std::remainder(radians, 2.0 * kPi);  // in [-pi, pi]
    if (a < -kPi) {
        a += 2.0 * kPi;
    }
    return a;
}

}  // namespace fm::platform
