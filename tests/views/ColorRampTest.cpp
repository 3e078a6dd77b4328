#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "views/ColorRamp.h"

using fm::views::colorViewRamp;
using fm::views::directionRamp;
using fm::views::Rgb255;

namespace {

void expectRgb(const Rgb255& c, double r, double g, double b, const char* what) {
    EXPECT_NEAR(c.red, r, 1e-3) << what;
    EXPECT_NEAR(c.green, g, 1e-3) << what;
    EXPECT_NEAR(c.blue, b, 1e-3) << what;
}

// What a channel is at level l inside a band, with the level widened from float as the views do.
double channel(double from, double to, float level, double lower, double perUnit) {
    const double t = (static_cast<double>(level) - lower) * perUnit;
    return from + (to - from) * t;
}

}  // namespace

TEST(Lerp, ExtrapolatesOutsideZeroToOne) {
    EXPECT_EQ(fm::views::lerpfloat(0.0f, 255.0f, 2.0f), 510.0f);
    EXPECT_EQ(fm::views::lerpfloat(10.0f, 20.0f, -1.0f), 0.0f);
    EXPECT_EQ(fm::views::lerpfloat(255.0f, 128.0f, 0.5f), 191.5f);
}

TEST(ColorViewRamp, BandEdgesAndJustPast) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    expectRgb(colorViewRamp(nan), 0, 0, 0, "NaN");
    expectRgb(colorViewRamp(-1.0f), 0, 0, 0, "negative");
    expectRgb(colorViewRamp(0.0319f), 0, 0, 0, "just below 0.032");
    expectRgb(colorViewRamp(0.032f), 0, 0, 0, "0.032");
    expectRgb(colorViewRamp(0.091f), 0, 0, 255 * (0.091 - 0.032) / 0.118, "black to blue");
    expectRgb(colorViewRamp(0.15f), 0, 0, 255, "0.15 blue");
    expectRgb(colorViewRamp(0.275f), 127.5, 127.5, 127.5, "blue to yellow midway");
    expectRgb(colorViewRamp(0.4f), 255, 255, 0, "0.4 yellow");
    expectRgb(colorViewRamp(0.525f), 255, 191.5, 0, "yellow to orange midway");
    expectRgb(colorViewRamp(0.65f), 255, 128, 0, "0.65 orange");
    expectRgb(colorViewRamp(0.775f), 255, 64, 0, "orange to red midway");
    expectRgb(colorViewRamp(0.9f), 255, 0, 0, "0.9 red");
    // Past 0.9 the ramp starts again from orange, not from red.
    const float past = 0.901f;
    expectRgb(colorViewRamp(past), 255, channel(128, 255, past, 0.9, 4),
              channel(0, 255, past, 0.9, 4), "just above 0.9");
    EXPECT_GT(colorViewRamp(past).green, 128.0f);
    expectRgb(colorViewRamp(1.025f), 255, 191.5, 127.5, "orange to white midway");
    expectRgb(colorViewRamp(1.15f), 255, 255, 255, "1.15 white");
    expectRgb(colorViewRamp(1.16f), 255, 255, 255, "above 1.15");
    expectRgb(colorViewRamp(1e9f), 255, 255, 255, "far above");
}

TEST(DirectionRamp, BandEdgesAndJustPast) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    expectRgb(directionRamp(nan), 0, 0, 0, "NaN");
    expectRgb(directionRamp(0.0f), 0, 0, 0, "zero");
    expectRgb(directionRamp(0.0319f), 0, 0, 0, "just below 0.032");
    expectRgb(directionRamp(0.032f), 10, 10, 255, "0.032 blue");
    // The initial ring (radius 110): about (193, 193, 80).
    const float initial = (125.0f - 110.0f) / 125.0f;
    expectRgb(directionRamp(initial), channel(10, 255, initial, 0.032, 1 / 0.118),
              channel(10, 255, initial, 0.032, 1 / 0.118),
              channel(255, 20, initial, 0.032, 1 / 0.118), "0.12");
    EXPECT_EQ(std::lround(directionRamp(initial).red), 193);
    EXPECT_EQ(std::lround(directionRamp(initial).blue), 80);
    expectRgb(directionRamp(0.15f), 255, 255, 20, "0.15 yellow");
    expectRgb(directionRamp(0.4f), 255, 128, 0, "0.4 orange");
    expectRgb(directionRamp(0.65f), 255, 0, 0, "0.65 red");
    expectRgb(directionRamp(0.8f), 255, 153, 153, "red to white");
    expectRgb(directionRamp(0.9f), 255, 255, 255, "0.9 white");
    expectRgb(directionRamp(1.0f), 255, 255, 255, "1.0 white");
    expectRgb(directionRamp(2.0f), 255, 255, 255, "above 1.15");
}
