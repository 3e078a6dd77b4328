#pragma once
// Takes the motion of one recording out of the accelerometer rings into the raw series.
#include <cstdint>
#include <span>

namespace fm::recording {

// values/times are the accelerometer rings (same length, times in ms since 1970) and nextSlot
// the slot the next sample will take, so the oldest sample sits there. Copies the samples whose
// time lies in [startMs, endMs] into rawSamples/rawSampleTimes in time order, at most
// kRawSampleCapacity of them (the oldest dropped first), sets rawSampleCount to their number and
// rewinds rawReadIndex. Returns the number taken.
std::int32_t fillRawSeriesFromAccel(std::span<const double> values, std::span<const double> times,
                                    std::int32_t nextSlot, double startMs, double endMs);

}  // namespace fm::recording
