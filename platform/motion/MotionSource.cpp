#include "platform/motion/MotionSource.h"

namespace fm::platform {
namespace {

std::unique_ptr<MotionSource>& current() {
    static std::unique_ptr<MotionSource> source = std::make_unique<RestingMotionSource>();
    return source;
}

double& turn() {
    static double radians = 0.0;
    return radians;
}

}  // namespace

MotionSource& motionSource() {
    return *current();
}

void setMotionSource(std::unique_ptr<MotionSource> source) {
    current() = source ? std::move(source) : std::make_unique<RestingMotionSource>();
}

double manualTurn() {
    return turn();
}

void turnDeviceBy(double radians) {
    turn() = wrapAngle(turn() + radians);
}

void resetManualTurn() {
    turn() = 0.0;
}

}  // namespace fm::platform
