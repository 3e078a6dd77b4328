#pragma once
// Lday, Levening, Lnight and Lden of each local calendar day, as the EU Environmental Noise
// Directive (2002/49/EC, Annex I) defines them: day 07:00-19:00, evening 19:00-23:00, night
// 23:00-07:00 local time, the evening weighted with +5 dB and the night with +10 dB. A day is
// reported 00:00-24:00: its night is 00:00-07:00 and 23:00-24:00 of that day. Qt-free.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "measure/EnergyMean.h"
#include "measure/SecondRecord.h"

namespace fm::measure {

struct DayValues {
    std::string date;  // the local date, "2026-12-08"
    // Each part's LAeq, in dB with each second's own calibration; absent without a measured second
    // in the part. Lden only when all three are present.
    std::optional<double> Lday;
    std::optional<double> Levening;
    std::optional<double> Lnight;
    std::optional<double> Lden;
    // Measured seconds / the part's real length in seconds (on a day the clocks change, a part
    // may be an hour shorter or longer than its hours on the clock).
    double dayCoverage = 0.0;
    double eveningCoverage = 0.0;
    double nightCoverage = 0.0;
    // The calibration of the last second with levels (dBFS when there was none).
    bool calibrated = false;
    double calibrationOffsetDb = 0.0;
};

// 10 lg((12 * 10^(Lday/10) + 4 * 10^((Levening+5)/10) + 8 * 10^((Lnight+10)/10)) / 24).
double denLevel(double lday, double levening, double lnight);

// Collects the seconds, in the order they close, into local days; a second belongs to the day and
// part that hold its middle (closedAt - 500 ms).
class DayEveningNightAccumulator {
  public:
    // When `record` falls on a later local day than the one under way, that day is returned if
    // the run covered the whole of it (its first second began at or before the day's local
    // midnight); a day the run entered partway is not reported. A second from before the day
    // under way (the clock set back) is counted in no day; after a second that says the wall clock
    // stepped back, the seconds up to where the day had already been measured are counted in no
    // part (each instant once), and a step back to an earlier day leaves the day under way
    // unreported (it is no longer whole).
    std::optional<DayValues> add(const SecondRecord& record);

  private:
    enum Part { kDay, kEvening, kNight };
    bool startDay(std::chrono::system_clock::time_point instant);
    DayValues values() const;

    std::optional<std::chrono::system_clock::time_point> runStart_;
    // The middle of the last second counted, and, after a step back, up to where not to count.
    std::chrono::system_clock::time_point lastMiddle_{};
    std::chrono::system_clock::time_point countedUntil_{};
    bool open_ = false;
    int year_ = 0;
    int month_ = 0;
    int day_ = 0;
    // Local 00:00, 07:00, 19:00, 23:00 of the day and 00:00 of the next, as instants.
    std::array<std::chrono::system_clock::time_point, 5> bounds_{};
    std::array<EnergyMean, 3> parts_{};
    bool calibrated_ = false;
    double calibrationOffsetDb_ = 0.0;
};

}  // namespace fm::measure
