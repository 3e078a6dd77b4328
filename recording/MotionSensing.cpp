#include "recording/MotionSensing.h"

#include <chrono>

namespace fm::recording {

double accelValues[kAccelRingSize] = {};
double accelTimes[kAccelRingSize] = {};
std::int32_t accelIndex = 0;
bool motionUpdatesOn = false;

double scaledAccelValue(double zInG) {
    const double v = zInG / 2.3;
    if (v > 1.0 || v < -1.0) {
        return 0.0;
    }
    return v * 10.0;
}

void storeAccelSample(double zInG, double secondsSince1970) {
    accelValues[accelIndex] = scaledAccelValue(zInG);
    accelTimes[accelIndex] = secondsSince1970 * 1000.0;
    accelIndex = (accelIndex + 1) % kAccelRingSize;
}

double secondsSince1970() {
    using namespace std::chrono;
    // The wall clock is read once; from then on time advances by the monotonic clock, so that a
    // clock set forward or back (NTP, suspend and resume) never opens a gap in the motion
    // series, whose steps between samples are what its WAV file encodes.
    static const double wallAtStart =
        duration<double>(system_clock::now().time_since_epoch()).count();
    static const steady_clock::time_point steadyAtStart = steady_clock::now();
    return wallAtStart + duration<double>(steady_clock::now() - steadyAtStart).count();
}

}  // namespace fm::recording
