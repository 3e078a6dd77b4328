#include "report/LevelTrend.h"

#include <algorithm>

#include "measure/Decibels.h"
#include "measure/Quantities.h"

namespace fm::report {

namespace {

const fm::measure::Quantity& secondLAeq() {
    static const fm::measure::Quantity& q =
        *std::find_if(fm::measure::quantities().begin(), fm::measure::quantities().end(),
                      [](const fm::measure::Quantity& x) { return x.key == "LAeq_1s"; });
    return q;
}

}  // namespace

TrendSecond trendSecondOf(const fm::measure::SecondRecord& second) {
    TrendSecond t;
    t.index = second.index;
    t.endMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(second.closedAt.time_since_epoch())
            .count();
    t.calibrated = second.calibrated;
    if (fm::measure::hasLevels(second.input)) {
        for (std::size_t i = 0; i < t.LAF.size(); ++i) {
            t.LAF[i] =
                fm::measure::meanSquareToDb(second.tickMeanSquareAF[i], second.calibrationOffsetDb);
        }
    }
    fm::measure::MeasurementView view;
    view.second = &second;
    t.LAeq1s = fm::measure::valueOf(secondLAeq(), view);
    return t;
}

LevelTrend::LevelTrend(std::size_t seconds) : ring_(std::max<std::size_t>(seconds, 1)) {}

void LevelTrend::add(const fm::measure::SecondRecord& second) {
    ring_[next_] = trendSecondOf(second);
    next_ = (next_ + 1) % ring_.size();
    count_ = std::min(count_ + 1, ring_.size());
}

std::vector<TrendSecond> LevelTrend::seconds() const {
    std::vector<TrendSecond> out;
    out.reserve(count_);
    const std::size_t first = (next_ + ring_.size() - count_) % ring_.size();
    for (std::size_t i = 0; i < count_; ++i) {
        out.push_back(ring_[(first + i) % ring_.size()]);
    }
    return out;
}

}  // namespace fm::report
