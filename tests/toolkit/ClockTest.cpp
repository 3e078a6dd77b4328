#include <gtest/gtest.h>

#include <chrono>

#include "toolkit/Clock.h"

using fm::toolkit::Clock;

TEST(Clock, FollowsTheSystemUntilPinnedAndMovesOnlyWhenTold) {
    using namespace std::chrono;
    const double system = duration<double>(system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(Clock::now(), system, 5.0);

    Clock::setNow(1000.0);
    EXPECT_EQ(Clock::now(), 1000.0);
    EXPECT_EQ(Clock::now(), 1000.0);
    Clock::advance(2.5);
    EXPECT_EQ(Clock::now(), 1002.5);
    EXPECT_EQ(Clock::timeIntervalSinceNow(1000.0), -2.5);
    EXPECT_EQ(Clock::timeIntervalSinceNow(1010.0), 7.5);

    Clock::useSystemTime();
    EXPECT_NEAR(Clock::now(), system, 5.0);
}
