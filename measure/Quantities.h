#pragma once
// The one description of what the meter measures: every quantity with its name, unit,
// weighting, time weighting and interval, and the one place where its value is read and
// calibrated. The log's columns, the summary's columns, the metrics families and the live page
// are all written from this list, so a quantity added here reaches every one of them.
// Qt-free.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/SecondRecord.h"
#include "measure/SoundLevelSnapshot.h"

namespace fm::measure {

struct PeriodValues;
struct DayValues;
struct EventValues;
class RunStatistics;

enum class Interval {
    Now,     // the time-weighted levels at this moment
    Second,  // the last whole second ("1s")
    Run,     // since the program started ("run")
    Period,  // the last closed summary period ("T")
    Day,     // the last whole local day (day-evening-night levels)
    Event,   // one loud moment, from its first trigger to the end of its post-roll ("event")
};

enum class Statistic {
    TimeWeighted,  // LAF, LAS, band Fast levels
    Equivalent,    // Leq
    Maximum,       // LAFmax
    Minimum,       // LAFmin
    Peak,          // LCpeak
    Exceeded,      // LA10 ... LA95: the level exceeded N % of the time
    DayPart,       // Lday, Levening, Lnight, Lden
};

enum class TimeWeighting { None, Fast, Slow };

struct Quantity {
    std::string key;     // unique and plain: "LAeq_1s", "LZeq_1s_1kHz", "LA90_T", "Lden"
    std::string symbol;  // as a meter shows it: "LAeq,1s", "LZeq,1s 1 kHz", "LA90,T", "Lden"
    Statistic statistic;
    char weighting;  // 'A', 'C' or 'Z'
    TimeWeighting timeWeighting;
    Interval interval;
    int band = -1;    // third-octave band (0: 20 Hz), or -1
    int percent = 0;  // Exceeded: N of L_N; DayPart: 0 day, 1 evening, 2 night, 3 den
};

// Every quantity, in the order the writers list them.
const std::vector<Quantity>& quantities();

// The third-octave bands' levels at one moment, as the measurement publishes them: linear and
// uncalibrated like a SecondRecord's.
struct BandLevels {
    std::array<double, kBandCount> fastMeanSquare{};
    std::array<double, kBandCount> energy{};  // sums of squares since the start
    std::uint64_t frames = 0;                 // the frames those sums cover
};

// What the values are read from; a source left null makes its quantities unmeasured.
struct MeasurementView {
    const SoundLevelSnapshot* now = nullptr;  // Now and Run levels, and their calibration
    const BandLevels* bands = nullptr;        // band Now and Run levels (now's calibration)
    const RunStatistics* run = nullptr;       // Run percentiles and LAFmin
    const SecondRecord* second = nullptr;     // Second
    const PeriodValues* period = nullptr;     // Period
    const DayValues* day = nullptr;           // Day
    const EventValues* event = nullptr;       // Event
    // False while there is no input: the Now quantities are then not measured (a frozen value
    // would look like one). The run's values stay what was measured.
    bool measuring = true;
};

// The quantity's value in dB (calibrated when its source is), or nullopt when it was not
// measured (no input, no such second, period, day or event yet, no level in that part).
std::optional<double> valueOf(const Quantity& q, const MeasurementView& m);
// Whether the value is calibrated dB (true) or dBFS (false).
bool calibratedOf(const Quantity& q, const MeasurementView& m);

// "1s", "run", "T", "now", "day", "event": the interval as labels and names write it.
const char* intervalName(Interval interval);
// The nominal mid-band frequencies and their labels ("20Hz" ... "1kHz", "1.25kHz", "16kHz").
double bandNominalHz(int band);
const char* bandLabel(int band);

}  // namespace fm::measure
