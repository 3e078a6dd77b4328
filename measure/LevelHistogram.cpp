#include "measure/LevelHistogram.h"

#include <algorithm>
#include <cmath>

namespace fm::measure {
namespace {

// Bins are counted in tenths of a dB, so that a bin's level is an integer divided by ten: the
// closest double to the level as written.
constexpr long long kLowestTenth = -1300;
constexpr long long kHighestTenth = 2000;
static_assert(kLowestTenth == static_cast<long long>(LevelHistogram::kLowestDb * 10));
static_assert(kHighestTenth == static_cast<long long>(LevelHistogram::kHighestDb * 10));

std::size_t binOf(double db) {
    // Clamped before rounding, so that no level can overflow the rounding.
    const double held = std::clamp(db, LevelHistogram::kLowestDb, LevelHistogram::kHighestDb);
    const long long tenth = std::clamp(std::llround(held * 10.0), kLowestTenth, kHighestTenth);
    return static_cast<std::size_t>(tenth - kLowestTenth);
}

double levelOfBin(std::size_t bin) {
    return static_cast<double>(static_cast<long long>(bin) + kLowestTenth) / 10.0;
}

}  // namespace

LevelHistogram::LevelHistogram()
    : bins_(static_cast<std::size_t>(kHighestTenth - kLowestTenth + 1)) {}

void LevelHistogram::add(double db) {
    if (std::isnan(db)) {
        return;
    }
    ++bins_[binOf(db)];
    if (count_ == 0) {
        min_ = max_ = db;
    } else {
        min_ = std::min(min_, db);
        max_ = std::max(max_, db);
    }
    ++count_;
}

void LevelHistogram::clear() {
    std::fill(bins_.begin(), bins_.end(), 0);
    count_ = 0;
    min_ = max_ = 0.0;
}

std::optional<double> LevelHistogram::min() const {
    return count_ == 0 ? std::nullopt : std::optional<double>(min_);
}

std::optional<double> LevelHistogram::max() const {
    return count_ == 0 ? std::nullopt : std::optional<double>(max_);
}

std::optional<double> LevelHistogram::exceeded(double percent) const {
    if (count_ == 0 || std::isnan(percent)) {
        return std::nullopt;
    }
    // Multiplied before dividing: percent * count is exact, so a whole rank stays whole (7 / 100.0
    // * 100 would come to 7.000000000000001, rank 8).
    const double wanted =
        std::ceil(std::clamp(percent, 0.0, 100.0) * static_cast<double>(count_) / 100.0);
    const std::uint64_t rank =
        std::clamp<std::uint64_t>(static_cast<std::uint64_t>(wanted), 1, count_);
    std::uint64_t seen = 0;
    for (std::size_t bin = bins_.size(); bin-- > 0;) {
        seen += bins_[bin];
        if (seen >= rank) {
            return levelOfBin(bin);
        }
    }
    return levelOfBin(0);  // not reached: the bins hold count_ levels
}

}  // namespace fm::measure
