#pragma once
// LAFmin and the percentile levels (LA10, LA50, LA90, LA95) of a run of seconds, from the ten LAF
// samples of every second with levels, each in dB with its own second's calibration. Readable at
// any time; not shared between threads. Qt-free.
#include <cstdint>
#include <optional>

#include "measure/LevelHistogram.h"
#include "measure/SecondRecord.h"

namespace fm::measure {

class RunStatistics {
  public:
    // A second without levels (no input) is left out.
    void add(const SecondRecord& record);
    void clear() { histogram_.clear(); }

    // LAF samples counted: ten per second with levels.
    std::uint64_t samples() const { return histogram_.count(); }
    // The smallest LAF sample, as measured; nullopt before the first second with levels.
    std::optional<double> LAFmin() const { return histogram_.min(); }
    // LA_N, exact to 0.1 dB: exceeded(10) is LA10.
    std::optional<double> exceeded(double percent) const { return histogram_.exceeded(percent); }

  private:
    LevelHistogram histogram_;
};

}  // namespace fm::measure
