#include "recording/RawMotionCapture.h"

#include <vector>

#include "recording/RawMotionTestSupport.h"

namespace fm::test {
namespace {

using RawMotionCapture = RawMotionTest;

// A ring of the given size with samples at 10 ms steps, `filled` of them written so far.
struct Ring {
    std::vector<double> values, times;
    std::int32_t next = 0;
    Ring(std::size_t size, int filled, double t0) : values(size, 0.0), times(size, 0.0) {
        for (int s = 0; s < filled; ++s) {
            values[next] = s;
            times[next] = t0 + 10.0 * s;
            next = static_cast<std::int32_t>((next + 1) % size);
        }
    }
};

TEST_F(RawMotionCapture, TakesTheRecordingsSpanInTimeOrder) {
    Ring ring(50000, 120, 1.7e12);
    fm::recording::rawReadIndex = 7;
    // Samples 20 … 50 inclusive.
    ASSERT_EQ(fm::recording::fillRawSeriesFromAccel(ring.values, ring.times, ring.next,
                                                    1.7e12 + 200, 1.7e12 + 500),
              31);
    EXPECT_EQ(fm::recording::rawSampleCount, 31);
    EXPECT_EQ(fm::recording::rawReadIndex, 0);
    for (int k = 0; k < 31; ++k) {
        EXPECT_EQ(fm::recording::rawSamples[k], 20 + k);
        EXPECT_EQ(fm::recording::rawSampleTimes[k], 1.7e12 + 10.0 * (20 + k));
    }
    // Unwritten slots (time 0) never count as motion.
    EXPECT_EQ(fm::recording::fillRawSeriesFromAccel(ring.values, ring.times, ring.next,
                                                    1.7e12 + 5000, 2e12),
              0);
    EXPECT_EQ(fm::recording::rawSampleCount, 0);
}

TEST_F(RawMotionCapture, AWrappedRingStartsAtItsOldestSlot) {
    Ring ring(50000, 50000 + 300, 1000.0);  // slots 0 … 299 were overwritten last
    ASSERT_EQ(fm::recording::fillRawSeriesFromAccel(ring.values, ring.times, ring.next, 0.0, 1e12),
              50000);
    EXPECT_EQ(fm::recording::rawSamples[0], 300);
    EXPECT_EQ(fm::recording::rawSamples[49999], 50299);
    for (int k = 1; k < 50000; ++k) {
        ASSERT_LT(fm::recording::rawSampleTimes[k - 1], fm::recording::rawSampleTimes[k]) << k;
    }
}

TEST_F(RawMotionCapture, ClockSetBackStillGivesTimeOrderAndCapacityDropsOldest) {
    Ring ring(60000, 60000, 0.0);
    ring.times[59999] = -5.0;  // a sample stamped before all others
    ASSERT_EQ(
        fm::recording::fillRawSeriesFromAccel(ring.values, ring.times, ring.next, -10.0, 1e12),
        50000);
    // 60000 matched; the 10000 oldest (the back-dated one and samples 0 … 9998) are dropped.
    EXPECT_EQ(fm::recording::rawSamples[0], 9999);
    EXPECT_EQ(fm::recording::rawSamples[49999], 59998);
}

}  // namespace
}  // namespace fm::test
