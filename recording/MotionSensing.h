#pragma once
// The accelerometer rings: the last 50000 z samples (500 s at 100 Hz), scaled and clipped,
// with the wall-clock time of each. Main thread only.
#include <cstdint>

namespace fm::recording {

inline constexpr int kAccelRingSize = 50000;

// Scaled z samples, each in [-10.0, 10.0].
extern double accelValues[kAccelRingSize];
// Milliseconds since 1970-01-01 00:00 UTC of the sample at the same index.
extern double accelTimes[kAccelRingSize];
// The slot the next sample writes, in 0 .. 49999.
extern std::int32_t accelIndex;
// Set once toggleUpdates has started the motion manager.
extern bool motionUpdatesOn;

// The value stored for a z reading in g: z / 2.3 scaled to +-10; a reading beyond +-2.3 g
// is stored as 0.0 (not clipped to the limit).
double scaledAccelValue(double zInG);

// Stores one sample at accelIndex with the given time (seconds since 1970) and advances the
// index around the ring.
void storeAccelSample(double zInG, double secondsSince1970);

// Seconds since 1970, with fraction: the wall clock at the first call, advanced from then on by
// the monotonic clock, so that it never jumps when the system clock is set.
double secondsSince1970();

}  // namespace fm::recording
