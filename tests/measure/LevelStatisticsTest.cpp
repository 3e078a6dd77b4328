// Percentile levels, period summaries and day-evening-night levels from synthetic seconds whose
// expected values are worked out here from the levels put in.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "measure/DayEveningNight.h"
#include "measure/LevelHistogram.h"
#include "measure/PeriodSummary.h"
#include "measure/RunStatistics.h"

namespace fm::measure {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
const Clock::time_point k10h = Clock::from_time_t(1796724000);  // 2026-12-08 10:00:00 UTC

// The process's time zone for one test; the previous one is back afterwards.
struct LocalZone {
    explicit LocalZone(const char* tz) : had(std::getenv("TZ") != nullptr) {
        saved = had ? std::getenv("TZ") : "";
        setenv("TZ", tz, 1);
        tzset();
    }
    ~LocalZone() {
        had ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    bool had;
    std::string saved;
};

double tenPow(double db) {
    return std::pow(10.0, db / 10.0);
}
double ms(double db) {
    return 0.5 * tenPow(db);
}
double energyMean(const std::vector<double>& dbs) {
    double sum = 0;
    for (double db : dbs) sum += tenPow(db);
    return 10.0 * std::log10(sum / static_cast<double>(dbs.size()));
}

TEST(LevelHistogramTest, ExceededLevelsRankFromTheLoudestAndRoundToTheNearestTenth) {
    LevelHistogram h;
    EXPECT_FALSE(h.exceeded(10));
    for (int i = 0; i < 30; ++i) h.add((i * 7) % 30 + 1.0);  // 1 ... 30 dB, out of order
    // From the loudest down: rank 3 of 30, 15, 27, 29 (ceil 28.5); L10 as the 10th percentile
    // from below would be 3, an off-by-one rank 27 or 29.
    EXPECT_EQ(*h.exceeded(10), 28.0);
    EXPECT_EQ(*h.exceeded(50), 16.0);
    EXPECT_EQ(*h.exceeded(90), 4.0);
    EXPECT_EQ(*h.exceeded(95), 2.0);
    EXPECT_EQ(*h.exceeded(0), 30.0);  // rank at least 1
    EXPECT_EQ(*h.exceeded(100), 1.0);
    const auto only = [&h](double db) {
        h.clear();
        h.add(db);
        return *h.exceeded(50);
    };
    EXPECT_EQ(only(60.04), 60.0);
    EXPECT_EQ(only(60.05), 60.1);
    EXPECT_EQ(only(-20.04), -20.0);  // not rounded down
    EXPECT_EQ(only(-20.05), -20.1);
    EXPECT_EQ(only(-500.0), -130.0);
    EXPECT_EQ(only(1e9), 200.0);
    h.add(-500.0);
    h.add(std::nan(""));  // not a level: not counted
    EXPECT_EQ(h.count(), 2u);
    EXPECT_EQ(*h.min(), -500.0);  // as given
}

// A measured second: A at `a` dB before calibration, the other values set off from it.
SecondRecord second(Clock::time_point closedAt, double a, double offset, double tickFrom) {
    SecondRecord r;
    r.closedAt = closedAt;
    r.input = InputKind::Mic;
    r.meanSquareA = ms(a);
    r.meanSquareC = ms(a + 2);
    r.maxMeanSquareAF = ms(a + 3);
    r.minMeanSquareAF = ms(tickFrom - 10);  // LAFmin comes from the ticks, not from here
    r.peakC = std::sqrt(ms(a + 6) * 2.0);   // LCpeak a + 6 + 3.01 dB
    for (int i = 0; i < kTicksPerSecond; ++i) r.tickMeanSquareAF[i] = ms(tickFrom + i);
    for (int b = 0; b < kBandCount; ++b) r.bandMeanSquare[b] = ms(a - b);
    r.calibrationOffsetDb = offset;
    r.calibrated = offset != 0;
    return r;
}

TEST(PeriodSummaryTest, ClosesAPeriodWithEverySecondAtItsOwnCalibration) {
    LocalZone utc("UTC0");
    PeriodAccumulator acc(*parsePeriod("1m"));
    // A loud second calibrated +20, a quiet uncalibrated one, a quiet one calibrated +10, and
    // one without input whose middle is 1 ms before the next period.
    SecondRecord none;
    none.closedAt = k10h + 60s + 499ms;
    std::vector<SecondRecord> in = {second(k10h + 57s, 70, 20, 65), second(k10h + 58s, 55, 0, 55),
                                    second(k10h + 59s, 20, 10, 30), none};
    in[1].overloadSamples = 3;
    for (const SecondRecord& r : in) EXPECT_FALSE(acc.add(r));
    const auto p = acc.add(second(k10h + 60s + 500ms, 70, 0, 65));  // its middle starts 10:01
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->start == k10h && p->end == k10h + 60s && p->complete);
    // 3 measured, 1 without input, 1 overloaded.
    EXPECT_EQ(p->measuredSeconds * 100 + p->noInputSeconds * 10 + p->overloadSeconds, 311u);
    const std::vector<double> a = {90, 55, 30};  // calibrated
    EXPECT_NEAR(*p->LAeq, energyMean(a), 1e-9);
    EXPECT_NEAR(*p->LCeq, energyMean({92, 57, 32}), 1e-9);
    EXPECT_NEAR(*p->LAFmax, 93.0, 1e-9);  // not 73 uncalibrated
    EXPECT_NEAR(*p->LCpeak, 96.0 + 10 * std::log10(2.0), 1e-9);
    // The ticks, loudest first: 94 ... 85, 64 ... 55, 49 ... 40; ranks 3, 15, 27, 29 of 30.
    EXPECT_NEAR(*p->LAFmin, 40.0, 1e-9);
    EXPECT_NEAR(*p->LA10, 92.0, 1e-9);
    EXPECT_NEAR(*p->LA50, 60.0, 1e-9);
    EXPECT_NEAR(*p->LA90, 43.0, 1e-9);
    EXPECT_NEAR(*p->LA95, 41.0, 1e-9);
    for (int b = 0; b < kBandCount; ++b) {
        EXPECT_NEAR((*p->bandLZeq)[b], energyMean({a[0] - b, a[1] - b, a[2] - b}), 1e-9);
    }
    EXPECT_TRUE(p->calibrated);  // the last second with levels, not the last second
    EXPECT_EQ(p->calibrationOffsetDb, 10.0);

    const auto rest = acc.finish();
    ASSERT_TRUE(rest);
    EXPECT_TRUE(rest->start == k10h + 60s && rest->end == k10h + 60s + 500ms && !rest->complete);
    EXPECT_NEAR(*rest->LAeq, 70.0, 1e-9);
    EXPECT_FALSE(acc.finish());
    acc.add(none);
    EXPECT_FALSE(acc.finish()->LAeq);
}

TEST(PeriodSummaryTest, PeriodsFollowTheLocalClock) {
    EXPECT_FALSE(parsePeriod("2m") || parsePeriod("1H"));
    LocalZone india("<+0530>-5:30");
    // 10:10 UTC is 15:40 local: its hour began at 09:30 UTC, its quarter at 15:30 local.
    EXPECT_EQ(periodStart(Period::OneHour, k10h + 10min), k10h - 30min);
    EXPECT_EQ(periodStart(Period::FifteenMinutes, k10h + 10min), k10h);
    EXPECT_EQ(periodStart(Period::FifteenMinutes, k10h + 15min - 1ms), k10h);
    EXPECT_EQ(periodStart(Period::FifteenMinutes, k10h + 15min), k10h + 15min);
    PeriodAccumulator hours(Period::OneHour);
    hours.add(second(k10h + 10min, 50, 0, 40));
    EXPECT_EQ(hours.add(second(k10h + 30min + 1s, 50, 0, 40))->start, k10h - 30min);
}

// Feeds one second after another, closing from `first` to `last`; `at` gives each second's
// calibrated A level and offset from its local start (no level: no input).
std::vector<DayValues> days(Clock::time_point first, Clock::time_point last,
                            const std::function<std::optional<double>(std::tm, double&)>& at) {
    DayEveningNightAccumulator acc;
    std::vector<DayValues> out;
    for (Clock::time_point t = first; t <= last; t += 1s) {
        const std::time_t s = Clock::to_time_t(t - 1s);
        std::tm local{};
        localtime_r(&s, &local);
        SecondRecord r;
        r.closedAt = t;
        const auto db = at(local, r.calibrationOffsetDb);
        r.input = db ? InputKind::Mic : InputKind::None;
        r.meanSquareA = db ? ms(*db - r.calibrationOffsetDb) : 0.0;
        r.calibrated = r.calibrationOffsetDb != 0;
        if (auto day = acc.add(r)) out.push_back(*day);
    }
    return out;
}

TEST(DayEveningNightTest, WholeLocalDaysWithTheDirectivesPartsAndPenalties) {
    LocalZone utc("UTC0");
    // From 23:00 on 7 December (a day the run entered late) to the first second of the 10th. The
    // 8th: day 60, evening 55, night 50 but 40 from 23:00. The 9th the same, calibrated +30,
    // with no input in the evening and from 03:00 to 04:00.
    const auto out = days(k10h - 11h + 1s, k10h + 38h + 1s, [](std::tm l, double& offset) {
        offset = l.tm_mday == 9 ? 30.0 : 0.0;
        const int h = l.tm_hour;
        const bool evening = h >= 19 && h < 23;
        if (l.tm_mday == 9 && (h == 3 || evening)) return std::optional<double>();
        return std::optional<double>(h >= 7 && h < 19 ? 60 : evening ? 55 : h == 23 ? 40 : 50);
    });
    ASSERT_EQ(out.size(), 2u);
    const double night8 = 10 * std::log10((7 * tenPow(50) + tenPow(40)) / 8);
    EXPECT_EQ(out[0].date, "2026-12-08");
    EXPECT_NEAR(*out[0].Lday, 60.0, 1e-9);
    EXPECT_NEAR(*out[0].Levening, 55.0, 1e-9);
    EXPECT_NEAR(*out[0].Lnight, night8, 1e-9);
    EXPECT_NEAR(
        *out[0].Lden,
        10 * std::log10((12 * tenPow(60) + 4 * tenPow(55 + 5) + 8 * tenPow(night8 + 10)) / 24),
        1e-9);
    EXPECT_EQ(out[0].dayCoverage + out[0].eveningCoverage + out[0].nightCoverage, 3.0);
    EXPECT_EQ(out[1].date, "2026-12-09");
    EXPECT_NEAR(*out[1].Lday, 60.0, 1e-9);
    EXPECT_NEAR(*out[1].Lnight, 10 * std::log10((6 * tenPow(50) + tenPow(40)) / 7), 1e-9);
    EXPECT_FALSE(out[1].Levening || out[1].Lden);
    EXPECT_EQ(out[1].eveningCoverage, 0.0);
    EXPECT_EQ(out[1].nightCoverage, 7.0 / 8.0);
    EXPECT_TRUE(out[1].calibrated && out[1].calibrationOffsetDb == 30.0);
}

TEST(DayEveningNightTest, ADayWhenTheClocksGoForwardHasASevenHourNight) {
    LocalZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    // 29 March 2026, 23 hours long, from its first second (a run that began at its midnight) to
    // the first second of the 30th; a run that began one second later covers no whole day.
    const auto midnight = Clock::from_time_t(1774738800);
    const auto at = [](std::tm, double&) { return std::optional<double>(50.0); };
    EXPECT_TRUE(days(midnight + 2s, midnight + 23h + 1s, at).empty());
    const auto out = days(midnight + 1s, midnight + 23h + 1s, at);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].date, "2026-03-29");
    EXPECT_EQ(out[0].nightCoverage, 1.0);
    EXPECT_EQ(out[0].dayCoverage + out[0].eveningCoverage, 2.0);
}

// The run's LAFmin and percentiles come from the seconds with levels alone: a second without
// input (its ticks at the floor) would pull them down to -120.
TEST(RunStatisticsTest, SecondsWithoutInputAreLeftOut) {
    RunStatistics run;
    RunStatistics measuredOnly;
    for (int s = 0; s < 4; ++s) {
        SecondRecord r = second(k10h + s * 1s, 50, 10, 40 + s);  // ticks 50 ... 62 calibrated
        r.input = s % 2 == 0 ? InputKind::Mic : InputKind::File;
        run.add(r);
        measuredOnly.add(r);
        for (const InputKind none : {InputKind::Lost, InputKind::Ended, InputKind::None}) {
            SecondRecord gap;
            gap.input = none;
            gap.closedAt = r.closedAt;
            run.add(gap);
        }
    }
    EXPECT_EQ(run.samples(), 40u);
    EXPECT_EQ(*run.LAFmin(), 50.0);
    for (const double percent : {10.0, 50.0, 90.0, 95.0}) {
        EXPECT_EQ(run.exceeded(percent), measuredOnly.exceeded(percent)) << percent;
    }
    EXPECT_GE(*run.exceeded(95), 50.0);
}

}  // namespace
}  // namespace fm::measure
