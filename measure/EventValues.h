#pragma once
// The levels over one event, added up from its ticks: linear and uncalibrated like a second's,
// with the calibration in effect when the event ended (applied where a level is written, through
// Quantities' valueOf with MeasurementView::event). Qt-free.
#include <algorithm>
#include <cstdint>

#include "measure/SoundLevels.h"

namespace fm::measure {

struct EventValues {
    double sumSquaresA = 0.0;      // A-weighted energy: LAeq over the event
    std::uint64_t frames = 0;      // the frames of its closed ticks
    double maxMeanSquareAF = 0.0;  // LAFmax
    double peakC = 0.0;            // LCpeak
    std::uint64_t overloadSamples = 0;
    double calibrationOffsetDb = 0.0;
    bool calibrated = false;

    void add(const SoundLevelMeter::ClosedTick& tick) {
        sumSquaresA += tick.sumSquaresA;
        frames += tick.frames;
        maxMeanSquareAF = std::max(maxMeanSquareAF, tick.maxMeanSquareAF);
        peakC = std::max(peakC, tick.peakC);
        overloadSamples += tick.overloadSamples;
    }
};

}  // namespace fm::measure
