#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "toolkit/ScheduledTimer.h"

using fm::toolkit::ScheduledTimer;

TEST(ScheduledTimer, FiresRepeatedlyUntilInvalidatedFromItsCallback) {
    const std::size_t before = ScheduledTimer::scheduledCount();
    int fired = 0;
    ScheduledTimer* seen = nullptr;
    std::weak_ptr<ScheduledTimer> watch;
    const ScheduledTimer* created = nullptr;
    {
        auto timer = ScheduledTimer::scheduledTimer(0.005, [&](ScheduledTimer* t) {
            seen = t;
            if (++fired == 3) {
                t->invalidate();
            }
        });
        watch = timer;
        created = timer.get();
        EXPECT_TRUE(timer->isValid());
        EXPECT_EQ(timer->timeInterval(), 0.005);
        EXPECT_EQ(ScheduledTimer::scheduledCount(), before + 1);
    }  // the handle is gone: the loop keeps the timer
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }, 5000));
    EXPECT_EQ(seen, created);  // the callback gets the timer itself

    // A second timer proves the loop kept running well past the first one's period.
    int other = 0;
    auto second = ScheduledTimer::scheduledTimer(0.005, [&](ScheduledTimer*) { ++other; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return other >= 10; }, 5000));
    EXPECT_EQ(fired, 3);
    EXPECT_TRUE(watch.expired());  // released by the loop once invalidated
    second->invalidate();
    EXPECT_EQ(ScheduledTimer::scheduledCount(), before);
}

TEST(ScheduledTimer, InvalidatedHandleStaysSafeAndSilent) {
    int fired = 0;
    auto timer = ScheduledTimer::scheduledTimer(0.005, [&](ScheduledTimer*) { ++fired; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 2; }, 5000));
    timer->invalidate();
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    const int at = fired;
    int other = 0;
    auto probe = ScheduledTimer::scheduledTimer(0.005, [&](ScheduledTimer*) { ++other; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return other >= 10; }, 5000));
    EXPECT_EQ(fired, at);
    EXPECT_EQ(timer->fireCount(), at);
    probe->invalidate();
}

TEST(ScheduledTimer, TimersAccumulateAndEachKeepsItsOwnPace) {
    int fast = 0;
    int slow = 0;
    auto a = ScheduledTimer::scheduledTimer(0.005, [&](ScheduledTimer*) { ++fast; });
    auto b = ScheduledTimer::scheduledTimer(0.1, [&](ScheduledTimer*) { ++slow; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow >= 2; }, 5000));
    EXPECT_GT(fast, slow * 4);
    a->invalidate();
    b->invalidate();
}
