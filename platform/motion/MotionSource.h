#pragma once
// Where the motion services take their readings from: a Linux IIO sensor, a replay file, or
// nothing (a desktop, turned by the keyboard and the mouse wheel). Qt-free; polled on the
// main thread.
#include <memory>
#include <optional>
#include <string>

#include "platform/motion/MotionReading.h"

namespace fm::platform {

class MotionSource {
  public:
    virtual ~MotionSource() = default;

    // The latest acceleration in g, or nothing when the source has no accelerometer.
    virtual std::optional<Acceleration> acceleration() = 0;
    // The latest rotation rate, or nothing when the source has no gyroscope.
    virtual std::optional<RotationRate> rotationRate() = 0;
    // The device's yaw in radians as far as the source knows it, or nothing.
    virtual std::optional<double> yaw() = 0;
    // One line for the console, e.g. "IIO accelerometer at /sys/...".
    virtual std::string description() const = 0;
};

// A desktop without sensors: lies face up, never turns by itself.
class RestingMotionSource : public MotionSource {
  public:
    std::optional<Acceleration> acceleration() override { return Acceleration{0.0, 0.0, -1.0}; }
    std::optional<RotationRate> rotationRate() override { return std::nullopt; }
    std::optional<double> yaw() override { return std::nullopt; }
    std::string description() const override { return "no motion sensor (keys [ and ] turn)"; }
};

// The process-wide source the accelerometer and motion manager read. Never null: until one
// is set it is a RestingMotionSource.
MotionSource& motionSource();
void setMotionSource(std::unique_ptr<MotionSource> source);

// The turn the user gave the device by hand (keys [ and ], the mouse wheel), in radians,
// added to whatever yaw the source reports. Kept in [-pi, pi].
double manualTurn();
void turnDeviceBy(double radians);
void resetManualTurn();

}  // namespace fm::platform
