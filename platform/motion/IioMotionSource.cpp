#include "platform/motion/IioMotionSource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fm::platform {
namespace {

constexpr double kStandardGravity = 9.80665;  // m/s^2 per g

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string defaultIioRoot() {
    if (const char* root = std::getenv("FM_IIO_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    return "/sys/bus/iio/devices";
}

std::optional<double> IioMotionSource::readNumber(const std::string& file) {
    std::ifstream in(file);
    if (!in) {
        return std::nullopt;
    }
    std::string text;
    std::getline(in, text);
    std::istringstream parse(text);
    double value = 0.0;
    if (!(parse >> value) || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<IioMotionSource::Triple> IioMotionSource::findTriple(const std::string& dir,
                                                                   const std::string& kind) {
    namespace fs = std::filesystem;
    // A per-axis scale or offset wins over the shared one; a missing offset is 0.
    auto channel = [&](const char* axis) -> std::optional<Channel> {
        const std::string base = dir + "/in_" + kind + "_" + axis;
        std::error_code ec;
        if (!fs::exists(base + "_raw", ec)) {
            return std::nullopt;
        }
        Channel c;
        c.rawFile = base + "_raw";
        if (auto s = readNumber(base + "_scale")) {
            c.scale = *s;
        } else if (auto shared = readNumber(dir + "/in_" + kind + "_scale")) {
            c.scale = *shared;
        }
        if (auto o = readNumber(base + "_offset")) {
            c.offset = *o;
        } else if (auto shared = readNumber(dir + "/in_" + kind + "_offset")) {
            c.offset = *shared;
        }
        return c;
    };
    auto x = channel("x");
    auto y = channel("y");
    auto z = channel("z");
    if (!z) {
        return std::nullopt;  // z is the axis this program needs
    }
    return Triple{x.value_or(Channel{}), y.value_or(Channel{}), *z};
}

std::optional<double> IioMotionSource::readChannel(const Channel& c) {
    if (c.rawFile.empty()) {
        return 0.0;  // an axis the device lacks reads as zero
    }
    auto raw = readNumber(c.rawFile);
    if (!raw) {
        return std::nullopt;
    }
    return (*raw + c.offset) * c.scale;
}

std::optional<IioMotionSource> IioMotionSource::open(const std::string& root,
                                                     std::function<double()> clock) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> devices;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        devices.push_back(entry.path());
    }
    std::sort(devices.begin(), devices.end());
    IioMotionSource source;
    for (const auto& dev : devices) {
        if (!source.accel_) {
            if (auto t = findTriple(dev.string(), "accel")) {
                source.accel_ = t;
                source.accelDir_ = dev.string();
            }
        }
        if (!source.gyro_) {
            if (auto t = findTriple(dev.string(), "anglvel")) {
                source.gyro_ = t;
                source.gyroDir_ = dev.string();
            }
        }
    }
    if (!source.accel_ && !source.gyro_) {
        return std::nullopt;
    }
    source.clock_ = clock ? std::move(clock) : steadySeconds;
    return source;
}

std::optional<Acceleration> IioMotionSource::acceleration() {
    if (!accel_) {
        return std::nullopt;
    }
    auto x = readChannel(accel_->x);
    auto y = readChannel(accel_->y);
    auto z = readChannel(accel_->z);
    if (!x || !y || !z) {
        return std::nullopt;
    }
    return Acceleration{*x / kStandardGravity, *y / kStandardGravity, *z / kStandardGravity};
}

std::optional<RotationRate> IioMotionSource::rotationRate() {
    if (!gyro_) {
        return std::nullopt;
    }
    auto x = readChannel(gyro_->x);
    auto y = readChannel(gyro_->y);
    auto z = readChannel(gyro_->z);
    if (!x || !y || !z) {
        return std::nullopt;
    }
    return RotationRate{*x, *y, *z};
}

std::optional<double> IioMotionSource::yaw() {
    if (!gyro_) {
        return std::nullopt;
    }
    const double now = clock_();
    auto rate = readChannel(gyro_->z);
    if (rate && lastYawTime_) {
        // Gaps longer than a second (a stalled loop) are not integrated: they would jump.
        const double dt = now - *lastYawTime_;
        if (dt > 0.0 && dt < 1.0) {
            yaw_ = wrapAngle(yaw_ + *rate * dt);
        }
    }
    lastYawTime_ = now;
    return yaw_;
}

std::string IioMotionSource::description() const {
    std::string text;
    if (accel_) {
        text += "IIO accelerometer at " + accelDir_;
    }
    if (gyro_) {
        text += (text.empty() ? "" : ", ") + std::string("IIO gyroscope at ") + gyroDir_;
    }
    return text;
}

}  // namespace fm::platform
