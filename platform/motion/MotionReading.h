#pragma once
// Plain values that the motion services hand out.

namespace fm::platform {

// Acceleration in units of g along the device's axes (z is perpendicular to the screen;
// a device lying face up reads z = -1).
struct Acceleration {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Rotation rate in radians per second about the device's axes.
struct RotationRate {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// The phone's device-orientation values.
enum DeviceOrientation : int {
    DeviceOrientationUnknown = 0,
    DeviceOrientationPortrait = 1,
    DeviceOrientationPortraitUpsideDown = 2,
    DeviceOrientationLandscapeLeft = 3,
    DeviceOrientationLandscapeRight = 4,
    DeviceOrientationFaceUp = 5,
    DeviceOrientationFaceDown = 6,
};

// Classifies the direction of gravity; returns `previous` while no axis clearly dominates, so
// the orientation does not flicker around the diagonals.
DeviceOrientation orientationFromGravity(const Acceleration& g, DeviceOrientation previous);

// Wraps an angle in radians into [-pi, pi].
double wrapAngle(double radians);

}  // namespace fm::platform
