#pragma once
// Motion readings from Linux Industrial I/O devices (/sys/bus/iio/devices): an accelerometer
// (in_accel_{x,y,z}_raw, in m/s^2 after scale and offset) and a gyroscope
// (in_anglvel_{x,y,z}_raw, in rad/s). The yaw is the gyroscope's z rate integrated over time.
#include <functional>
#include <optional>
#include <string>

#include "platform/motion/MotionSource.h"

namespace fm::platform {

// The folder scanned for IIO devices: $FM_IIO_ROOT when set, else /sys/bus/iio/devices.
std::string defaultIioRoot();

class IioMotionSource : public MotionSource {
  public:
    // Looks under `root` for the first accelerometer and the first gyroscope. Returns nothing
    // when neither exists. `clock` gives monotonic seconds (for integrating the yaw).
    static std::optional<IioMotionSource> open(const std::string& root,
                                               std::function<double()> clock = {});

    std::optional<Acceleration> acceleration() override;
    std::optional<RotationRate> rotationRate() override;
    std::optional<double> yaw() override;
    std::string description() const override;

    const std::string& accelerometerPath() const { return accelDir_; }
    const std::string& gyroscopePath() const { return gyroDir_; }

  private:
    struct Channel {
        std::string rawFile;
        double scale = 1.0;
        double offset = 0.0;
    };
    struct Triple {
        Channel x, y, z;
    };
    static std::optional<Triple> findTriple(const std::string& dir, const std::string& kind);
    static std::optional<double> readNumber(const std::string& file);
    static std::optional<double> readChannel(const Channel& c);

    std::string accelDir_;
    std::string gyroDir_;
    std::optional<Triple> accel_;
    std::optional<Triple> gyro_;
    std::function<double()> clock_;
    double yaw_ = 0.0;
    std::optional<double> lastYawTime_;
};

}  // namespace fm::platform
