#pragma once
// The meter's current values in Prometheus' text exposition format (version 0.0.4): gauges for
// the levels, counters for the frames captured and dropped, every series labelled with the
// meter's name. Qt-free.
#include <cstdint>
#include <string>

#include "measure/SoundLevelSnapshot.h"

namespace fm::report {

struct MeterReading {
    measure::SoundLevelSnapshot levels;
    double rawLevel = 0.0;            // rmsValue: the raw level (the big read-out by default)
    std::uint64_t framesDropped = 0;  // frames the recorder dropped since the program started
};

std::string prometheusText(const std::string& meterName, const MeterReading& reading);

}  // namespace fm::report
