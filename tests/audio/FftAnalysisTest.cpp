// Accumulation into 2048-sample blocks, the packed transform and the 320 band powers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "audio/EngineFixture.h"

namespace fm::test {
namespace {

class SpectrumTest : public EngineTest {
  protected:
    std::vector<std::int16_t> gathered(std::size_t count) const {
        const auto* b = static_cast<const std::int16_t*>(engine_->samplesBuffer);
        return {b, b + count};
    }
    std::vector<float> bands() const {
        std::vector<float> out;
        for (const auto& v : fm::audio::spectrumPower) {
            out.push_back(v.load());
        }
        return out;
    }
};

TEST_F(SpectrumTest, SetupFillsTheFields) {
    EXPECT_EQ(engine_->logOfN, 11);
    EXPECT_EQ(engine_->n, 2048);
    EXPECT_EQ(engine_->halfN, 1024);
    EXPECT_EQ(engine_->bufferMaxSamples, 2048u);
    EXPECT_EQ(engine_->index2, 0u);
    EXPECT_NE(engine_->CSPLIT.realp, nullptr);
    EXPECT_NE(engine_->CSPLIT.imagp, nullptr);
    EXPECT_EQ(engine_->fftSetupObject->size(), 2048);
}

TEST_F(SpectrumTest, BlocksOf1024AnalyseEverySecondBlockWithoutDropping) {
    start();
    const auto a = rampBlock(1024, 0);
    const auto b = rampBlock(1024, 5000);
    deliver(a);
    EXPECT_EQ(engine_->index2, 1024u);
    EXPECT_EQ(bands(), std::vector<float>(320, 0.0f)) << "no analysis before the block is full";
    deliver(b);
    EXPECT_EQ(engine_->index2, 0u);
    auto both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(gathered(2048), both);
    EXPECT_NE(bands(), std::vector<float>(320, 0.0f));
    deliver(a);
    EXPECT_EQ(engine_->index2, 1024u);
    deliver(b);
    EXPECT_EQ(engine_->index2, 0u);
}

TEST_F(SpectrumTest, BlocksOf940DropTheRestOfTheCompletingBlock) {
    start();
    const auto b1 = rampBlock(940, 0);
    const auto b2 = rampBlock(940, 10000);
    const auto b3 = rampBlock(940, 20000);
    const auto b4 = rampBlock(940, -5000);
    deliver(b1);
    EXPECT_EQ(engine_->index2, 940u);
    deliver(b2);
    EXPECT_EQ(engine_->index2, 1880u);
    deliver(b3);
    EXPECT_EQ(engine_->index2, 0u);
    auto expected = b1;
    expected.insert(expected.end(), b2.begin(), b2.end());
    expected.insert(expected.end(), b3.begin(), b3.begin() + 168);
    EXPECT_EQ(gathered(2048), expected);
    // The 772 samples left of b3 are gone: the next block starts with b4.
    deliver(b4);
    EXPECT_EQ(engine_->index2, 940u);
    EXPECT_EQ(gathered(940), b4);
}

TEST_F(SpectrumTest, ConstantHalfScaleGivesOnlyBandZero) {
    start();
    deliver(constantBlock(2048, 16384));
    const auto p = bands();
    EXPECT_EQ(p[0], 1048576.0f);
    for (std::size_t b = 1; b < p.size(); ++b) {
        ASSERT_EQ(p[b], 0.0f) << "band " << b;
    }
    // Silence then clears every band.
    deliver(constantBlock(2048, 0));
    EXPECT_EQ(bands(), std::vector<float>(320, 0.0f));
}

TEST_F(SpectrumTest, PackedTransformAgreesWithDirectDft) {
    start();
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::int16_t> x(2048);
    for (auto& v : x) {
        v = static_cast<std::int16_t>(dist(rng));
    }
    deliver(x);
    // Reference: X[k] = Σ x[n] e^(−2πi kn/2048) with x = s / 32768, in double.
    auto dft = [&](int k) {
        std::complex<double> sum = 0.0;
        for (int i = 0; i < 2048; ++i) {
            const double angle = -2.0 * std::numbers::pi * k * i / 2048.0;
            sum += (x[static_cast<std::size_t>(i)] / 32768.0) * std::polar(1.0, angle);
        }
        return sum;
    };
    const float* re = engine_->CSPLIT.realp;
    const float* im = engine_->CSPLIT.imagp;
    const double tolerance = 2e-3;  // single precision over 2048 terms of magnitude ≤ 1
    EXPECT_NEAR(re[0], 2.0 * dft(0).real(), tolerance);
    EXPECT_NEAR(im[0], 2.0 * dft(1024).real(), tolerance);
    for (int k = 1; k < 1024; ++k) {
        const auto X = dft(k);
        ASSERT_NEAR(re[k], 2.0 * X.real(), tolerance) << "bin " << k;
        ASSERT_NEAR(im[k], 2.0 * X.imag(), tolerance) << "bin " << k;
    }
    // Band b reads y[4b … 4b+4] with the three middle values counted twice.
    for (int b : {0, 1, 160, 319}) {
        const double y[5] = {re[2 * b], im[2 * b], re[2 * b + 1], im[2 * b + 1], re[2 * b + 2]};
        const double expected = 0.25 * (y[0] * y[0] + 2 * y[1] * y[1] + 2 * y[2] * y[2] +
                                        2 * y[3] * y[3] + y[4] * y[4]);
        EXPECT_NEAR(fm::audio::spectrumPower[static_cast<std::size_t>(b)].load(), expected,
                    1e-5 * expected + 1e-6)
            << "band " << b;
    }
}

TEST(BandPowers, OverlappingPairsInSinglePrecision) {
    // y = 1, 2, 3, 4, 5: (1+4) + (4+9) + (9+16) + (16+25) = 84, a quarter of it 21.
    const float realp[3] = {1.0f, 3.0f, 5.0f};
    const float imagp[3] = {2.0f, 4.0f, 0.0f};
    float power[1];
    fm::audio::bandPowersFromPacked(realp, imagp, power, 1);
    EXPECT_EQ(power[0], 21.0f);

    // The pair sums 2^24, 0, 1, 2 are added in order in float: the 1 is lost against 2^24 and
    // the 2 is not, giving (2^24 + 2) / 4; summing in double would give 4194305.
    const float r2[3] = {4096.0f, 0.0f, 1.0f};
    const float i2[3] = {0.0f, 1.0f, 0.0f};
    fm::audio::bandPowersFromPacked(r2, i2, power, 1);
    EXPECT_EQ(power[0], 4194304.5f);
}

TEST_F(SpectrumTest, SineLandsInTheBandItsFrequencyNames) {
    start();
    for (const double frequency : {1000.0, 4306.640625, 12000.0}) {
        std::vector<std::int16_t> x(2048);
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<std::int16_t>(
                std::lround(12000.0 * std::sin(2.0 * std::numbers::pi * frequency * i / 44100.0)));
        }
        deliver(x);
        const auto p = bands();
        const auto peak = std::max_element(p.begin(), p.end()) - p.begin();
        // Bands are 2 × 44100 / 2048 = 43.07 Hz wide.
        EXPECT_EQ(peak, static_cast<long>(frequency / (2.0 * 44100.0 / 2048.0))) << frequency;
    }
}

}  // namespace
}  // namespace fm::test
