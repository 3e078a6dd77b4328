// The level engine's blocks of four samples against the same recursions run sample by sample,
// with the real weighting sections: noise, a tone near full scale with overloaded samples in
// every lane, then the decay in silence, fed in runs of every length modulo four.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "measure/SoundLevels.h"

namespace fm::measure {
namespace {

using Build = LevelEngine::Build;

class LevelEngineBuildTest : public ::testing::TestWithParam<Build> {};

TEST_P(LevelEngineBuildTest, BlocksAgreeWithSampleBySample) {
    if (!LevelEngine::available(GetParam())) {
        GTEST_SKIP() << "this build does not run on this processor";
    }
    constexpr double kPi = 3.14159265358979323846;
    std::vector<float> s(3 * 44100, 0.0f);
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 0.03f);
    for (std::size_t n = 0; n < 66150; ++n) {
        s[n] = n < 44100 ? noise(rng)
                         : static_cast<float>(0.9 * std::sin(2.0 * kPi * 4000.0 * n / 44100.0));
    }
    // At or beyond full scale in magnitude (counted), and the float just below it (not).
    const float full = 32767.0f / 32768.0f;
    const float below = std::nextafter(full, 0.0f);
    const float special[] = {full, -full, -1.0f, 1.5f, below, -below};
    for (std::size_t i = 0; i < 24; ++i) {
        s[50001 + 7 * i] = special[i % 6];  // 7 apart: each value lands in all four lanes
    }

    LevelEngine blocks = weightingEngine(44100.0), single = weightingEngine(44100.0);
    blocks.use(GetParam());
    single.use(Build::PerSample);
    ASSERT_EQ(blocks.build(), GetParam());
    // Relative to the sample-by-sample value. The two only round differently, which shows (up
    // to 1e-7) where a dying filter's output is far below its state; a sample or a lane out of
    // place would be off by 1e-4 or more.
    const auto near = [](double got, double want) {
        return std::fabs(got - want) <= 1e-6 * std::fabs(want);
    };
    const std::uint32_t runs[] = {1, 2, 3, 4, 5, 6, 7, 8, 1024, 4410, 333, 1021};
    std::uint32_t overloaded = 0;
    double largestFastA = 0.0;
    for (std::size_t at = 0, i = 0; at < s.size(); ++i) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::size_t>(runs[i % 12], s.size() - at));
        const SpanTotals b = blocks.run(s.data() + at, n);
        const SpanTotals p = single.run(s.data() + at, n);
        at += n;
        ASSERT_TRUE(near(b.sumA, p.sumA) && near(b.sumC, p.sumC) && near(b.sumZ, p.sumZ) &&
                    near(b.maxFastA, p.maxFastA) && near(b.peakC, p.peakC))
            << "totals of the run ending at " << at;
        ASSERT_TRUE(near(blocks.fastA(), single.fastA()) && near(blocks.slowA(), single.slowA()) &&
                    near(blocks.fastC(), single.fastC()) && near(blocks.fastZ(), single.fastZ()))
            << "time weighting at " << at << ": " << blocks.fastA() << " " << single.fastA();
        ASSERT_EQ(b.overloaded, p.overloaded) << at;
        overloaded += b.overloaded;
        largestFastA = std::max(largestFastA, b.maxFastA);
    }
    EXPECT_EQ(overloaded, 16u);
    // The runs went on 1.5 s into the decay: Fast A 52 dB below the tone.
    EXPECT_LT(single.fastA(), 1e-5 * largestFastA);
    EXPECT_GT(single.fastA(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Blocks, LevelEngineBuildTest,
                         ::testing::Values(Build::Portable, Build::Avx2Fma), [](const auto& info) {
                             return info.param == Build::Portable ? "Portable" : "Avx2Fma";
                         });

}  // namespace
}  // namespace fm::measure
