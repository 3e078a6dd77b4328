#include "measure/PeriodSummary.h"

#include <algorithm>

#include "measure/Decibels.h"
#include "measure/LocalClock.h"

namespace fm::measure {

using Clock = std::chrono::system_clock;
using namespace std::chrono_literals;

std::optional<Period> parsePeriod(std::string_view text) {
    for (const Period p :
         {Period::OneMinute, Period::FiveMinutes, Period::FifteenMinutes, Period::OneHour}) {
        if (text == periodName(p)) {
            return p;
        }
    }
    return std::nullopt;
}

const char* periodName(Period period) {
    switch (period) {
        case Period::OneMinute:
            return "1m";
        case Period::FiveMinutes:
            return "5m";
        case Period::FifteenMinutes:
            return "15m";
        case Period::OneHour:
            return "1h";
    }
    return "1m";
}

std::chrono::seconds periodLength(Period period) {
    switch (period) {
        case Period::OneMinute:
            return 60s;
        case Period::FiveMinutes:
            return 300s;
        case Period::FifteenMinutes:
            return 900s;
        case Period::OneHour:
            return 3600s;
    }
    return 60s;
}

Clock::time_point periodStart(Period period, Clock::time_point instant) {
    const auto second = std::chrono::floor<std::chrono::seconds>(instant);
    const long length = static_cast<long>(periodLength(period).count());
    const auto local = localTimeOf(instant);
    // The local clock's seconds since midnight; without a local time, UTC's.
    const long sinceMidnight =
        local ? local->hour * 3600L + local->minute * 60L + local->second
              : static_cast<long>((second.time_since_epoch().count() % 86400 + 86400) % 86400);
    return second - std::chrono::seconds(sinceMidnight % length);
}

PeriodAccumulator::PeriodAccumulator(Period period) : period_(period) {}

std::optional<PeriodValues> PeriodAccumulator::add(const SecondRecord& record) {
    const Clock::time_point middle = record.closedAt - 500ms;
    std::optional<PeriodValues> closed;
    if (open_ && record.clockStepSeconds < 0.0) {
        closed = close(false);
    }
    if (!open_) {
        start_ = periodStart(period_, middle);
        open_ = true;
    } else if (middle >= start_ + periodLength(period_)) {
        const Clock::time_point next = periodStart(period_, middle);
        if (next > start_) {
            closed = close(true);
            start_ = next;
            open_ = true;
        }
    }
    count(record);
    return closed;
}

std::optional<PeriodValues> PeriodAccumulator::finish() {
    if (!open_) {
        return std::nullopt;
    }
    return close(false);
}

void PeriodAccumulator::count(const SecondRecord& record) {
    lastClosedAt_ = record.closedAt;
    lost_ += record.lostSeconds;
    if (record.overloadSamples > 0) {
        ++overload_;
    }
    if (!hasLevels(record.input)) {
        ++noInput_;
        return;
    }
    const double offset = record.calibrationOffsetDb;
    const bool first = a_.count() == 0;
    a_.add(record.meanSquareA, offset);
    c_.add(record.meanSquareC, offset);
    for (int band = 0; band < kBandCount; ++band) {
        bands_[band].add(record.bandMeanSquare[band], offset);
    }
    const double lafMax = meanSquareToDb(record.maxMeanSquareAF, offset);
    const double lcPeak = peakToDb(record.peakC, offset);
    lafMax_ = first ? lafMax : std::max(lafMax_, lafMax);
    lcPeak_ = first ? lcPeak : std::max(lcPeak_, lcPeak);
    laf_.add(record);
    calibrated_ = record.calibrated;
    calibrationOffsetDb_ = offset;
}

PeriodValues PeriodAccumulator::close(bool complete) {
    PeriodValues v;
    v.start = start_;
    // Never before its start, whatever the clock did within a second.
    v.end = complete ? start_ + periodLength(period_) : std::max(lastClosedAt_, start_);
    v.complete = complete;
    v.measuredSeconds = a_.count();
    v.noInputSeconds = noInput_;
    v.overloadSeconds = overload_;
    v.lostSeconds = lost_;
    if (v.measuredSeconds > 0) {
        v.LAeq = a_.level();
        v.LAFmax = lafMax_;
        v.LAFmin = laf_.LAFmin();
        v.LA10 = laf_.exceeded(10);
        v.LA50 = laf_.exceeded(50);
        v.LA90 = laf_.exceeded(90);
        v.LA95 = laf_.exceeded(95);
        v.LCeq = c_.level();
        v.LCpeak = lcPeak_;
        std::array<double, kBandCount> bands{};
        for (int band = 0; band < kBandCount; ++band) {
            bands[band] = *bands_[band].level();
        }
        v.bandLZeq = bands;
    }
    v.calibrated = calibrated_;
    v.calibrationOffsetDb = calibrationOffsetDb_;

    open_ = false;
    noInput_ = overload_ = 0;
    lost_ = 0.0;
    a_.clear();
    c_.clear();
    for (EnergyMean& band : bands_) {
        band.clear();
    }
    laf_.clear();
    calibrated_ = false;
    calibrationOffsetDb_ = 0.0;
    return v;
}

}  // namespace fm::measure
