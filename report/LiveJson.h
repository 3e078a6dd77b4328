#pragma once
// The live page's JSON, written from the measured quantities' description (measure/Quantities.h):
// /api/now lists every quantity with its description and value; the stream's events carry the
// same values, grouped by unit and without the descriptions, ten times a second. Both say where
// the sound comes from (or why there is none), the calibration, the overload indicator, the map
// of directions, the newest second of the trend and, when given, the spectrum. A value that was
// not measured is null. Qt-free.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/LimitWatch.h"
#include "measure/Quantities.h"
#include "measure/SecondRecord.h"
#include "report/DirectionMap.h"
#include "report/LevelTrend.h"

namespace fm::report {

struct LiveReading {
    fm::measure::MeasurementView view;  // `now` is needed for the calibration and overload
    fm::measure::InputKind input = fm::measure::InputKind::None;
    std::string meterName;
    std::chrono::system_clock::time_point time;     // when the reading was made
    std::chrono::system_clock::time_point started;  // when the program started measuring
    // When the offset in use was set ("2026-12-01T09:30:00Z"); "" when it was given for this run
    // only.
    std::string calibrationDate;
    const DirectionMap* direction = nullptr;
    std::optional<TrendSecond> lastSecond;  // the newest second for the trend
    std::vector<float> spectrum;            // the 320 spectrum band powers; empty: left out
    double sampleRate = 44100.0;
    std::uint64_t lostFrames = 0;  // input frames lost since the start, wherever
    std::uint64_t clockSteps = 0;  // steps of the wall clock seen since the start
    std::vector<fm::measure::LimitState> limits;  // the limits after the last second
};

std::string liveNowJson(const LiveReading& reading);
std::string liveStreamJson(const LiveReading& reading);
std::string levelTrendJson(const std::vector<TrendSecond>& seconds);

// Why there is input or not, in words: "the input file played to its end".
const char* inputStateText(fm::measure::InputKind input);

// The spectrum's band k (of the 2048-point transform's pair sums, bins 2k to 2k + 2): its
// centre frequency, and its power in dB where a full-scale sine centred in the band reads 0.
double spectrumCentreHz(int band, double sampleRate);
double spectrumBandDb(float power, double offsetDb);

}  // namespace fm::report
