#pragma once
// The summary of one period (1 min, 5 min, 15 min or 1 h, following the local clock) from the
// seconds that the measurement closes: how many seconds were measured, LAeq,T, LAFmax,T,
// LAFmin,T, the percentile levels, LCeq,T, LCpeak,T and the band LZeq,T. Qt-free.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "measure/EnergyMean.h"
#include "measure/RunStatistics.h"
#include "measure/SecondRecord.h"

namespace fm::measure {

enum class Period : std::uint8_t { OneMinute, FiveMinutes, FifteenMinutes, OneHour };

// The accepted names, for a message about anything else.
inline constexpr const char* kPeriodNames = "1m, 5m, 15m, 1h";

// "1m", "5m", "15m" or "1h"; anything else: nullopt.
std::optional<Period> parsePeriod(std::string_view text);
const char* periodName(Period period);
std::chrono::seconds periodLength(Period period);

// The start of the period that holds `instant`: periods start at local midnight + k * length of
// the local clock (a 1 h period in a +05:30 zone starts at a local full hour).
std::chrono::system_clock::time_point periodStart(Period period,
                                                  std::chrono::system_clock::time_point instant);

struct PeriodValues {
    // UTC instants. A complete period ends at start + length; one still under way at the closing
    // instant of its last second.
    std::chrono::system_clock::time_point start{};
    std::chrono::system_clock::time_point end{};
    // The period's end was passed (a second of a later period arrived). Its seconds still need
    // not cover it: a run may have started within it, or have had gaps.
    bool complete = false;
    std::uint64_t measuredSeconds = 0;  // seconds with levels
    std::uint64_t noInputSeconds = 0;   // seconds without input
    std::uint64_t overloadSeconds = 0;  // seconds with samples at or beyond full scale
    double lostSeconds = 0.0;           // input lost within its seconds (not measured)
    // In dB with each second's own calibration; absent when no second of the period had levels.
    std::optional<double> LAeq;    // energy mean of the seconds' LAeq,1s
    std::optional<double> LAFmax;  // the largest LAFmax,1s
    std::optional<double> LAFmin;  // the smallest of the LAF samples (ten a second)
    std::optional<double> LA10;    // exceeded 10 % of the time, from the LAF samples
    std::optional<double> LA50;
    std::optional<double> LA90;
    std::optional<double> LA95;
    std::optional<double> LCeq;
    std::optional<double> LCpeak;                            // the largest LCpeak,1s
    std::optional<std::array<double, kBandCount>> bandLZeq;  // 20 Hz first
    // The calibration of the last second with levels (dBFS when there was none).
    bool calibrated = false;
    double calibrationOffsetDb = 0.0;
};

// Collects the seconds, in the order they close, into periods. A second belongs to the period
// that holds its middle (closedAt - 500 ms). Periods without any second are not made up. A second
// that says the wall clock stepped back closes the period under way, not complete, at its last
// second, and starts the next at the new time: a period never holds seconds from before its
// start. A second from an earlier period than the one under way without such a word (a clock
// set back by less than a second) is counted in the one under way: a period once closed is never
// reopened.
class PeriodAccumulator {
  public:
    explicit PeriodAccumulator(Period period);

    // When `record` belongs to a later period, the one under way is closed and returned, and the
    // record starts the next one. Never allocates.
    std::optional<PeriodValues> add(const SecondRecord& record);
    // The period under way, marked not complete, if it has any second; the accumulator is then
    // empty.
    std::optional<PeriodValues> finish();

    Period period() const { return period_; }

  private:
    PeriodValues close(bool complete);
    void count(const SecondRecord& record);

    Period period_;
    bool open_ = false;
    std::chrono::system_clock::time_point start_{};
    std::chrono::system_clock::time_point lastClosedAt_{};
    std::uint64_t noInput_ = 0;
    std::uint64_t overload_ = 0;
    double lost_ = 0.0;
    EnergyMean a_;
    EnergyMean c_;
    std::array<EnergyMean, kBandCount> bands_{};
    double lafMax_ = 0.0;
    double lcPeak_ = 0.0;
    RunStatistics laf_;
    bool calibrated_ = false;
    double calibrationOffsetDb_ = 0.0;
};

}  // namespace fm::measure
