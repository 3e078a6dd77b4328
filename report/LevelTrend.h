#pragma once
// The level trend of the last minutes: for every second, LAF at the end of each of its tenths
// and its LAeq,1s, in dB under the second's own calibration. What the live page draws when it
// opens, before its stream has brought anything. Fixed memory. Qt-free.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "measure/SecondRecord.h"

namespace fm::report {

struct TrendSecond {
    std::uint64_t index = 0;  // the second's index (SecondRecord::index)
    std::int64_t endMs = 0;   // when it closed, milliseconds since 1970 (UTC)
    bool calibrated = false;  // dB (true) or dBFS
    // Without input every value is nullopt: a gap in the trend, never a made-up level.
    std::array<std::optional<double>, fm::measure::kTicksPerSecond> LAF{};
    std::optional<double> LAeq1s;
};

TrendSecond trendSecondOf(const fm::measure::SecondRecord& second);

class LevelTrend {
  public:
    explicit LevelTrend(std::size_t seconds = 600);
    void add(const fm::measure::SecondRecord& second);
    // Oldest first.
    std::vector<TrendSecond> seconds() const;

  private:
    std::vector<TrendSecond> ring_;
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

}  // namespace fm::report
