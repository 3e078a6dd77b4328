#include "measure/DayEveningNight.h"

#include <algorithm>
#include <cstdio>

#include "measure/Decibels.h"
#include "measure/LocalClock.h"

namespace fm::measure {

using Clock = std::chrono::system_clock;
using namespace std::chrono_literals;

double denLevel(double lday, double levening, double lnight) {
    return meanSquareToDb((12.0 * dbToMeanSquare(lday) + 4.0 * dbToMeanSquare(levening + 5.0) +
                           8.0 * dbToMeanSquare(lnight + 10.0)) /
                          24.0);
}

std::optional<DayValues> DayEveningNightAccumulator::add(const SecondRecord& record) {
    const Clock::time_point middle = record.closedAt - 500ms;
    if (!runStart_) {
        runStart_ = record.closedAt - 1s;
    }
    if (record.clockStepSeconds < 0.0 && open_) {
        if (middle < bounds_[0]) {
            open_ = false;
            runStart_ = record.closedAt - 1s;
            countedUntil_ = {};
        } else {
            countedUntil_ = std::max(countedUntil_, lastMiddle_);
        }
    }
    std::optional<DayValues> closed;
    if (!open_ || middle >= bounds_[4]) {
        if (open_ && *runStart_ <= bounds_[0]) {
            closed = values();
        }
        open_ = startDay(middle);
        if (!open_) {
            return closed;
        }
    } else if (middle < bounds_[0]) {
        return closed;
    }
    if (middle <= countedUntil_) {
        return closed;
    }
    lastMiddle_ = middle;
    if (!hasLevels(record.input)) {
        return closed;
    }
    const Part part = middle < bounds_[1]   ? kNight
                      : middle < bounds_[2] ? kDay
                      : middle < bounds_[3] ? kEvening
                                            : kNight;
    parts_[part].add(record.meanSquareA, record.calibrationOffsetDb);
    calibrated_ = record.calibrated;
    calibrationOffsetDb_ = record.calibrationOffsetDb;
    return closed;
}

bool DayEveningNightAccumulator::startDay(Clock::time_point instant) {
    parts_ = {};
    calibrated_ = false;
    calibrationOffsetDb_ = 0.0;
    const auto local = localTimeOf(instant);
    if (!local) {
        return false;
    }
    year_ = local->year;
    month_ = local->month;
    day_ = local->day;
    const int hours[5] = {0, 7, 19, 23, 24};
    for (int i = 0; i < 5; ++i) {
        const auto at = instantOfLocalHour(year_, month_, day_, hours[i]);
        if (!at) {
            return false;
        }
        bounds_[i] = *at;
    }
    // Should the C library place a boundary oddly on a day the clocks change, the day still holds
    // the instant that started it, so that the next second does not start yet another day.
    bounds_[0] =
        std::min<Clock::time_point>(bounds_[0], std::chrono::floor<std::chrono::seconds>(instant));
    bounds_[4] = std::max(bounds_[4], instant + 1ms);
    return true;
}

DayValues DayEveningNightAccumulator::values() const {
    DayValues v;
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", year_, month_, day_);
    v.date = date;
    v.Lday = parts_[kDay].level();
    v.Levening = parts_[kEvening].level();
    v.Lnight = parts_[kNight].level();
    if (v.Lday && v.Levening && v.Lnight) {
        v.Lden = denLevel(*v.Lday, *v.Levening, *v.Lnight);
    }
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    const double night = seconds(bounds_[1] - bounds_[0]) + seconds(bounds_[4] - bounds_[3]);
    v.dayCoverage = static_cast<double>(parts_[kDay].count()) / seconds(bounds_[2] - bounds_[1]);
    v.eveningCoverage =
        static_cast<double>(parts_[kEvening].count()) / seconds(bounds_[3] - bounds_[2]);
    v.nightCoverage = static_cast<double>(parts_[kNight].count()) / night;
    v.calibrated = calibrated_;
    v.calibrationOffsetDb = calibrationOffsetDb_;
    return v;
}

}  // namespace fm::measure
