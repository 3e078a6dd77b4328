#pragma once
// The meter's values in Prometheus' text exposition format (version 0.0.4), written from the
// measured quantities' description: a gauge family per kind of level, labelled by weighting,
// time weighting, interval and band, plus the input's state, the calibration, the overload
// indicator and counters; every series labelled with the meter's name. A quantity that is not
// measured now (no input, no second or period yet) is left out, never shown at a stale value.
// Qt-free.
#include <cstdint>
#include <string>
#include <vector>

#include "measure/LimitWatch.h"
#include "measure/Quantities.h"
#include "measure/SecondRecord.h"

namespace fm::report {

struct MeterReading {
    fm::measure::MeasurementView view;
    fm::measure::InputKind input = fm::measure::InputKind::None;
    std::optional<double> rawLevel;              // rmsValue: the raw level (the big read-out)
    std::uint64_t framesDropped = 0;             // frames the recorder dropped
    std::uint64_t measurementFramesDropped = 0;  // frames the measurement had no room for
    std::uint64_t eventsTotal = 0;               // loud moments captured
    std::uint64_t lostFrames = 0;                // input frames lost, wherever
    std::uint64_t clockSteps = 0;                // steps of the wall clock seen
    double lastClockStepSeconds = 0.0;           // the size of the last one (signed)
    std::string period;                          // the summary's period ("15m"), "" without
    // The limits after the last second.
    std::vector<fm::measure::LimitState> limits;
};

std::string prometheusText(const std::string& meterName, const MeterReading& reading);

// `text` as a label's value: valid UTF-8, with backslash, double quote and line feed escaped.
std::string metricsLabelValue(const std::string& text);

// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string validUtf8(const std::string& text);

}  // namespace fm::report
