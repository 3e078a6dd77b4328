// The demo signal must show off the whole meter: with the default gain 1.0 and base level 1.0
// its level crosses the colour page's whole ramp within 30 s, and its tones show in the spectrum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/EngineFixture.h"
#include "platform/audio/DemoSignal.h"

namespace fm::test {
namespace {

// The colour page shows rmsValue / 255 against a ramp that starts at 0.032 and ends at 1.15.
constexpr double kRampStartLevel = 0.032 * 255.0;
constexpr double kRampEndLevel = 1.15 * 255.0;

TEST(DemoSignal, LevelCrossesTheWholeColourRampWithin30Seconds) {
    fm::platform::DemoSignal demo;
    std::vector<float> block(1024);
    double lowest = 1e9;
    double highest = 0.0;
    const int blocks = static_cast<int>(30.0 * 44100.0 / 1024.0);
    for (int b = 0; b < blocks; ++b) {
        ASSERT_EQ(demo.fill(block.data(), 1024), 1024u);
        double sum = 0.0;
        for (const float x : block) {
            sum += (x * 32768.0) * (x * 32768.0);  // the raw level is in 16-bit units
        }
        const double level = std::max(0.0, std::sqrt(sum / 1024.0) * 1.0 - 1.0);
        lowest = std::min(lowest, level);
        highest = std::max(highest, level);
    }
    EXPECT_LT(lowest, kRampStartLevel);
    EXPECT_GT(highest, kRampEndLevel);
}

TEST(DemoSignal, IsTheSameOnEveryRunAndFollowsItsEnvelope) {
    fm::platform::DemoSignal a;
    fm::platform::DemoSignal b;
    std::vector<float> x(44100 * 6);
    std::vector<float> y(x.size());
    a.fill(x.data(), static_cast<std::uint32_t>(x.size()));
    b.fill(y.data(), static_cast<std::uint32_t>(y.size()));
    EXPECT_EQ(x, y);
    // One second around t = 5 s: its RMS is the envelope's there, within the tones' beating.
    double sum = 0.0;
    for (std::size_t i = 44100 * 4 + 22050; i < 44100 * 5 + 22050; ++i) {
        sum += (x[i] * 32768.0) * (x[i] * 32768.0);
    }
    const double rms = std::sqrt(sum / 44100.0);
    EXPECT_NEAR(rms, fm::platform::DemoSignal::envelopeRms(5.0), 0.2 * rms);
}

using DemoSignalSpectrum = EngineTest;

TEST_F(DemoSignalSpectrum, TonesStandOutInTheSpectrum) {
    start();
    fm::platform::DemoSignal demo;
    std::vector<float> block(1024);
    // Skip to 12 s, where the envelope is loud, then analyse one 2048-sample block.
    for (int b = 0; b < static_cast<int>(12.0 * 44100.0 / 1024.0); ++b) {
        demo.fill(block.data(), 1024);
    }
    for (int b = 0; b < 2; ++b) {
        demo.fill(block.data(), 1024);
        script_->addBlock(block);
        ASSERT_TRUE(script_->deliverNextBlock());
    }
    std::vector<float> power(320);
    for (std::size_t k = 0; k < power.size(); ++k) {
        power[k] = fm::audio::spectrumPower[k].load();
    }
    std::vector<float> sorted = power;
    std::nth_element(sorted.begin(), sorted.begin() + 160, sorted.end());
    const float median = sorted[160];
    const int peaks = static_cast<int>(
        std::count_if(power.begin(), power.end(), [&](float p) { return p > 1000.0f * median; }));
    // Each of the three tones lights a band or two far above the floor.
    EXPECT_GE(peaks, 3);
    EXPECT_LE(peaks, 12);
}

}  // namespace
}  // namespace fm::test
