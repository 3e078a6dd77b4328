#pragma once
// The energy mean (Leq) of seconds given as mean squares, each with the calibration offset it was
// measured under: each value is taken to dB with its own offset and back to a mean square, so
// that seconds measured under different calibrations add up as the sound they stood for. Qt-free.
#include <cstdint>
#include <optional>

#include "measure/Decibels.h"

namespace fm::measure {

class EnergyMean {
  public:
    void add(double meanSquare, double offsetDb) {
        sum_ += dbToMeanSquare(meanSquareToDb(meanSquare, offsetDb));
        ++count_;
    }
    void clear() { *this = EnergyMean{}; }

    std::uint64_t count() const { return count_; }
    // The mean in dB (offsets applied); nullopt when nothing was added.
    std::optional<double> level() const {
        if (count_ == 0) {
            return std::nullopt;
        }
        return meanSquareToDb(sum_ / static_cast<double>(count_));
    }

  private:
    double sum_ = 0.0;  // calibrated mean squares
    std::uint64_t count_ = 0;
};

}  // namespace fm::measure
