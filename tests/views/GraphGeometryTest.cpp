#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "views/GraphGeometry.h"

using fm::views::linearGraphY;
using fm::views::logGraphY;

TEST(GraphGeometry, LinearLiftsByFiveThenScales) {
    EXPECT_EQ(linearGraphY(0.0, 1.0, 100.0), 95.0f);
    EXPECT_EQ(linearGraphY(10.0, 2.0, 100.0), 70.0f);
    EXPECT_EQ(linearGraphY(319.0, 0.0, 100.0), 100.0f);  // factor 0 flattens onto the bottom
    EXPECT_EQ(linearGraphY(-5.0, 3.0, 50.0), 50.0f);
}

TEST(GraphGeometry, LogIsBase1Point1OfTheScaledValue) {
    // A zero sample sits log_1.1(5 * factor) above the bottom edge.
    EXPECT_NEAR(100.0f - logGraphY(0.0, 1.0, 100.0), 16.886, 1e-3);
    EXPECT_NEAR(100.0f - logGraphY(0.0, 0.5, 100.0), 9.61, 1e-2);
    EXPECT_NEAR(200.0f - logGraphY(32768.0, 0.5, 200.0), std::log(16386.5) / std::log(1.1), 1e-3);
    // s between 0 and 1 has a negative height: below the bottom edge.
    EXPECT_GT(logGraphY(-4.5, 1.0, 100.0), 100.0f);
}

TEST(GraphGeometry, LogOfNothingPositiveLiesOnTheBottomEdge) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(logGraphY(-5.0, 1.0, 80.0), 80.0f);   // s = 0
    EXPECT_EQ(logGraphY(-50.0, 1.0, 80.0), 80.0f);  // s < 0
    EXPECT_EQ(logGraphY(10.0, 0.0, 80.0), 80.0f);   // factor 0
    EXPECT_EQ(logGraphY(10.0, -1.0, 80.0), 80.0f);  // negative factor
    EXPECT_EQ(logGraphY(nan, 1.0, 80.0), 80.0f);
    EXPECT_EQ(logGraphY(inf, 1.0, 80.0), 80.0f);
    EXPECT_EQ(logGraphY(1e300, 1.0, 80.0), 80.0f);  // overflows float
}
