#pragma once
// Exact percentile levels (L10, L90 ...) of any number of levels in fixed memory: each level is
// counted in its 0.1 dB bin, so a percentile is exact to the bin rather than estimated from a
// sample of the levels. Qt-free.
#include <cstdint>
#include <optional>
#include <vector>

namespace fm::measure {

class LevelHistogram {
  public:
    // The range of the bins: the floor of an uncalibrated level up to far above any calibrated
    // one. A level outside is counted in the end bin on its side.
    static constexpr double kLowestDb = -130.0;
    static constexpr double kHighestDb = 200.0;

    // The only allocation: every bin, made here.
    LevelHistogram();

    // Counts `db` in the bin of its value rounded to the nearest 0.1 dB (a half, as 60.05, goes
    // away from zero). NaN is not a level and is not counted.
    void add(double db);
    void clear();

    std::uint64_t count() const { return count_; }
    // The lowest and highest level added, as given (neither rounded to its bin nor clamped).
    std::optional<double> min() const;
    std::optional<double> max() const;
    // L_N, the level exceeded `percent` % of the time: with the levels sorted from the loudest
    // down, the bin of the one at rank ceil(percent / 100 * count), at least 1 (percent is held
    // to 0 ... 100). exceeded(10) is L10, exceeded(90) L90. Nothing added (or a NaN percent):
    // nullopt.
    std::optional<double> exceeded(double percent) const;

  private:
    std::vector<std::uint64_t> bins_;  // lowest level first
    std::uint64_t count_ = 0;
    double min_ = 0.0;
    double max_ = 0.0;
};

}  // namespace fm::measure
