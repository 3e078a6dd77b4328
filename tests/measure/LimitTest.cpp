// Limits: the grammar (good specs and where bad ones go wrong), local times across midnight and
// the clocks changing, the rolling level against sums worked out here, and the episodes' hold,
// clear and rate limit on synthetic seconds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "measure/Limit.h"
#include "measure/LimitWatch.h"

namespace fm::measure {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

Clock::time_point utc(int y, int mo, int d, int h, int mi) {
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi};
}
double ms(double db) {
    return 0.5 * std::pow(10.0, db / 10.0);
}

LimitSpec spec(const char* text) {
    const LimitParse p = parseLimit(text);
    EXPECT_TRUE(p.spec) << text << ": " << p.error;
    return p.spec.value_or(LimitSpec{});
}

TEST(Limit, ReadsTheGrammar) {
    const LimitSpec night = spec("night=LAeq_15m>45@23:00-07:00");
    EXPECT_EQ(night.name, "night");
    EXPECT_EQ(night.text, "night=LAeq_15m>45@23:00-07:00");
    EXPECT_EQ(night.rollingWeighting, 'A');
    EXPECT_EQ(night.rollingSeconds, 900);
    EXPECT_EQ(night.levelDb, 45.0);
    ASSERT_TRUE(night.window);
    EXPECT_EQ(night.window->fromMinute, 23 * 60);
    EXPECT_EQ(night.window->toMinute, 7 * 60);
    EXPECT_EQ(night.window->days, 0x7f);

    const LimitSpec peak = spec("LCpeak>130");
    EXPECT_EQ(peak.key, "LCpeak_1s");  // the largest in each second, not the run's
    EXPECT_EQ(peak.name, "LCpeak>130");
    EXPECT_FALSE(peak.rolling());

    const LimitSpec held = spec("LAF>-20.5@Fri-Mon/2m");
    EXPECT_EQ(held.levelDb, -20.5);
    EXPECT_EQ(held.holdSeconds, 120);
    EXPECT_EQ(held.window->days, 0b1110001);  // Fri, Sat, Sun, Mon
    EXPECT_EQ(held.window->toMinute, 24 * 60);

    const LimitSpec site = spec("site=LAeq_1s>70/3s@Mon-Fri,Sun 07:00-19:00");
    EXPECT_EQ(site.key, "LAeq_1s");
    EXPECT_EQ(site.holdSeconds, 3);
    EXPECT_EQ(site.window->days, 0b1011111);
    EXPECT_EQ(spec("LZeq_2h>60").rollingSeconds, 7200);
}

TEST(Limit, SaysWhereABadSpecGoesWrong) {
    // clang-format off
    const std::vector<std::pair<const char*, std::size_t>> bad = {
        {"LAF>>85", 4}, {"LAF>=85", 4}, {"LAQ>85", 0}, {"LAeq>45", 0}, {"LAeq_T>45", 0},
        {"LAS>45", 0}, {"LAeq_25h>40", 0}, {"LAeq_15x>40", 0}, {"LAF<85", 3}, {"LAF>85 ", 6},
        {"LAF>85/0s", 7}, {"LAF>85/3s/4s", 9}, {"LAF>300", 4}, {"1n=LAF>85", 0}, {"=LAF>85", 0},
        {"LAF>85@Mon-Fry", 11}, {"n=LAeq_15m>45@23:00-7", 20}, {"LAF>85@07:00-07:00", 7},
        {"LAF>85@25:00-07:00", 7}, {"LAF>85@Sat08:00-09:00", 10}};
    // clang-format on
    for (const auto& [text, position] : bad) {
        const LimitParse p = parseLimit(text);
        EXPECT_FALSE(p.spec) << text;
        EXPECT_EQ(p.position, position) << text << ": " << p.error;
        EXPECT_NE(p.error.find("e.g."), std::string::npos) << text << ": " << p.error;
    }
    std::string why;
    EXPECT_FALSE(parseLimits({"a=LAF>85", "a=LCpeak>130"}, &why));
    EXPECT_NE(why.find("another limit has the name a"), std::string::npos) << why;
    const LimitParse p = parseLimit("LAF>>85");
    EXPECT_EQ(limitErrorText("--limit", "LAF>>85", p),
              "--limit LAF>>85: at character 5, " + p.error + "\n  LAF>>85\n      ^");
}

TEST(Limit, FollowsTheLocalClockAcrossMidnightAndTheClocksChanging) {
    // This process's zone from now on: the other cases here read no local time.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const TimeWindow night = spec("LAF>1@23:00-07:00").window.value();
    EXPECT_FALSE(night.contains(utc(2026, 3, 28, 21, 59)));  // 22:59 CET
    EXPECT_TRUE(night.contains(utc(2026, 3, 28, 22, 0)));    // 23:00 CET
    // 29 March: the clocks go from 02:00 CET to 03:00 CEST.
    EXPECT_TRUE(night.contains(utc(2026, 3, 29, 4, 59)));   // 06:59 CEST
    EXPECT_FALSE(night.contains(utc(2026, 3, 29, 5, 30)));  // 07:30 CEST (06:30 in CET)
    // 25 October: back from 03:00 CEST to 02:00 CET.
    EXPECT_TRUE(night.contains(utc(2026, 10, 25, 5, 30)));  // 06:30 CET (07:30 in CEST)
    EXPECT_FALSE(night.contains(utc(2026, 10, 25, 6, 0)));  // 07:00 CET
    EXPECT_TRUE(night.contains(utc(2026, 10, 24, 21, 0)));  // 23:00 CEST

    // A span belongs to the day it starts on: Friday night runs into Saturday morning.
    const TimeWindow friday = spec("LAF>1@Fri 23:00-07:00").window.value();
    EXPECT_TRUE(friday.contains(utc(2026, 12, 11, 22, 30)));   // Fri 23:30 CET
    EXPECT_TRUE(friday.contains(utc(2026, 12, 12, 5, 0)));     // Sat 06:00
    EXPECT_FALSE(friday.contains(utc(2026, 12, 11, 5, 0)));    // Fri 06:00: Thursday's night
    EXPECT_FALSE(friday.contains(utc(2026, 12, 12, 22, 30)));  // Sat 23:30
}

SecondRecord second(std::uint64_t index, std::optional<double> lafMaxDb, double laeqDb = -60.0,
                    double offsetDb = 0.0) {
    SecondRecord s;
    s.index = index;
    s.closedAt = utc(2026, 12, 8, 10, 0) + std::chrono::seconds(index);
    s.input = lafMaxDb ? InputKind::File : InputKind::Lost;
    s.maxMeanSquareAF = lafMaxDb ? ms(*lafMaxDb - offsetDb) : 0.0;
    s.meanSquareA = ms(laeqDb - offsetDb);
    s.calibrationOffsetDb = offsetDb;
    s.calibrated = offsetDb != 0.0;
    return s;
}

TEST(Limit, RollingLevelIsTheEnergyMeanOfTheMeasuredSecondsOfItsWindow) {
    LimitWatch watch({{spec("LAeq_10s>50")}, 60, 600});
    std::vector<LimitAlert> alerts;
    // Twelve seconds, two without input and two under another calibration: the last ten hold
    // seconds 3 ... 12, of which 3 ... 9 and 12 were measured.
    const std::vector<std::pair<double, double>> levels = {
        {40, 0}, {41, 0}, {42, 0}, {43, 100}, {44, 100}, {45, 0}, {46, 0}, {47, 0}, {48, 0}};
    std::uint64_t i = 0;
    for (const auto& [db, offset] : levels) {
        watch.add(second(++i, db, db, offset), &alerts);
    }
    watch.add(second(++i, std::nullopt), &alerts);
    watch.add(second(++i, std::nullopt), &alerts);
    watch.add(second(++i, 30, 30), &alerts);
    double sum = 0.0;
    for (double db : {42, 43, 44, 45, 46, 47, 48, 30}) {
        sum += std::pow(10.0, db / 10.0);
    }
    const LimitState& state = watch.states().front();
    ASSERT_TRUE(state.value);
    EXPECT_NEAR(*state.value, 10.0 * std::log10(sum / 8.0), 1e-9);
    EXPECT_DOUBLE_EQ(state.coverage.value(), 0.8);
    EXPECT_FALSE(state.held);
    EXPECT_TRUE(alerts.empty());
}

TEST(Limit, EpisodesHoldClearAndAreRateLimited) {
    LimitWatch watch({{spec("loud=LAF>80/3s")}, 5, 60});
    std::vector<LimitAlert> alerts;
    std::uint64_t i = 0;
    auto feed = [&](std::vector<double> lafMax) {
        for (double db : lafMax) {
            watch.add(second(++i, db, db - 10.0), &alerts);
        }
    };
    feed({85, 85, 70});  // two seconds over: shorter than the hold
    EXPECT_TRUE(alerts.empty());
    feed({81, 90, 84});  // seconds 4 ... 6 hold: raised at 6, started when 4 began
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].kind, LimitAlert::Kind::Raised);
    EXPECT_EQ(alerts[0].name, "loud");
    EXPECT_EQ(alerts[0].value, 84.0);
    EXPECT_EQ(alerts[0].start, second(3, 0).closedAt);
    EXPECT_EQ(alerts[0].time, second(6, 0).closedAt);
    EXPECT_EQ(alerts[0].episode, 1u);
    feed({70, 70, 70, 70, 95});  // four quiet seconds do not clear it; the fifth holds again
    feed({70, 70, 70, 70});
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(watch.states()[0].raised);
    feed({70});  // five quiet seconds: cleared, ending when second 11 ended
    ASSERT_EQ(alerts.size(), 2u);
    const LimitAlert& clear = alerts[1];
    EXPECT_EQ(clear.kind, LimitAlert::Kind::Cleared);
    EXPECT_EQ(clear.value, 95.0);
    EXPECT_DOUBLE_EQ(clear.durationSeconds(), 8.0);
    double sum = 0.0;  // LAeq,1s of seconds 4 ... 11
    for (double db : {71, 80, 74, 60, 60, 60, 60, 85}) {
        sum += std::pow(10.0, db / 10.0);
    }
    EXPECT_NEAR(clear.LAeq.value(), 10.0 * std::log10(sum / 8.0), 1e-9);
    EXPECT_FALSE(watch.states()[0].raised);
    EXPECT_EQ(watch.states()[0].secondsOver, 6u);

    // Two more episodes within the minute after the raise: counted, neither raised nor cleared.
    feed({90, 90, 90, 70, 70, 70, 70, 70, 90, 90, 90, 70, 70, 70, 70, 70});
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(watch.states()[0].episodes, 3u);
    // Second 6 raised; from second 66 on it may raise again, counting the two it did not.
    feed(std::vector<double>(66 - 32 - 3, 70.0));
    feed({90, 90, 90});
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[2].time, second(66, 0).closedAt);
    EXPECT_EQ(alerts[2].episode, 4u);
    EXPECT_EQ(alerts[2].episodesNotAlerted, 2u);
}

}  // namespace
}  // namespace fm::measure
