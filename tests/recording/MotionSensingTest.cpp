#include <gtest/gtest.h>

#include <algorithm>

#include "recording/MotionSensing.h"

namespace {

void clearRings() {
    std::fill(std::begin(fm::recording::accelValues), std::end(fm::recording::accelValues), 0.0);
    std::fill(std::begin(fm::recording::accelTimes), std::end(fm::recording::accelTimes), 0.0);
    fm::recording::accelIndex = 0;
}

TEST(MotionSensing, ZIsScaledByTwoPointThreeAndOutOfRangeReadingsBecomeZero) {
    EXPECT_DOUBLE_EQ(fm::recording::scaledAccelValue(2.3), 10.0);
    EXPECT_DOUBLE_EQ(fm::recording::scaledAccelValue(-2.3), -10.0);
    EXPECT_DOUBLE_EQ(fm::recording::scaledAccelValue(2.31), 0.0);
    EXPECT_DOUBLE_EQ(fm::recording::scaledAccelValue(-3.0), 0.0);
    EXPECT_DOUBLE_EQ(fm::recording::scaledAccelValue(0.23), 1.0);
    EXPECT_DOUBLE_EQ(fm::recording::scaledAccelValue(-1.0), -1.0 / 2.3 * 10.0);
}

TEST(MotionSensing, SampleStoresValueAndMillisecondTimeAtTheSameIndex) {
    clearRings();
    fm::recording::storeAccelSample(-1.0, 1700000000.25);
    fm::recording::storeAccelSample(0.23, 1700000000.26);
    EXPECT_EQ(fm::recording::accelIndex, 2);
    EXPECT_DOUBLE_EQ(fm::recording::accelValues[0], -1.0 / 2.3 * 10.0);
    EXPECT_DOUBLE_EQ(fm::recording::accelTimes[0], 1700000000250.0);
    EXPECT_DOUBLE_EQ(fm::recording::accelValues[1], 1.0);
    EXPECT_DOUBLE_EQ(fm::recording::accelTimes[1], 1700000000.26 * 1000.0);
}

TEST(MotionSensing, RingWrapsAfterFiftyThousandSamplesAndOverwritesSlotZero) {
    clearRings();
    for (int i = 0; i < fm::recording::kAccelRingSize; ++i) {
        fm::recording::storeAccelSample(0.23, 1000.0 + i * 0.01);
    }
    EXPECT_EQ(fm::recording::accelIndex, 0);
    EXPECT_DOUBLE_EQ(fm::recording::accelValues[fm::recording::kAccelRingSize - 1], 1.0);
    EXPECT_DOUBLE_EQ(fm::recording::accelTimes[0], 1000.0 * 1000.0);
    fm::recording::storeAccelSample(2.3, 2000.0);
    EXPECT_EQ(fm::recording::accelIndex, 1);
    EXPECT_DOUBLE_EQ(fm::recording::accelValues[0], 10.0);
    EXPECT_DOUBLE_EQ(fm::recording::accelTimes[0], 2000000.0);
    EXPECT_DOUBLE_EQ(fm::recording::accelValues[1],
                     1.0);  // the next slot still holds the old sample
}

TEST(MotionSensing, WallClockIsSecondsSince1970) {
    const double now = fm::recording::secondsSince1970();
    EXPECT_GT(now, 1.6e9);  // after 2020
    EXPECT_LT(now, 4.1e9);  // before 2100
}

}  // namespace
