// The sound level meter against real signals: sines at the third-octave frequencies through the
// weighting filters, tone bursts through the time weighting, Leq of steady and switched tones,
// and consistent readings while the audio thread publishes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "measure/Decibels.h"
#include "measure/SoundLevels.h"

namespace fm::measure {
namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

// A sine of the given peak (full scale 1.0) on the 16-bit grid, starting at phase 0.
std::vector<float> tone(double f, double peak, double seconds) {
    const auto frames = static_cast<std::size_t>(std::llround(seconds * kRate));
    std::vector<float> s(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        s[n] = static_cast<float>(
            std::lround(32767.0 * peak * std::sin(2.0 * kPi * f * static_cast<double>(n) / kRate)) /
            32768.0);
    }
    return s;
}

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<std::size_t>(std::llround(seconds * kRate)), 0.0f);
}

// Feeds samples [from, to) in 1024-frame blocks, as the input unit delivers them.
void feed(SoundLevelMeter& meter, const std::vector<float>& s, std::size_t from = 0,
          std::size_t to = SIZE_MAX) {
    to = std::min(to, s.size());
    for (std::size_t at = from; at < to; at += 1024) {
        meter.process(s.data() + at,
                      static_cast<std::uint32_t>(std::min<std::size_t>(1024, to - at)));
    }
}

// The level of a sine of peak 32767 × peak below full scale.
double sineDbfs(double peak) {
    return 20.0 * std::log10(32767.0 * peak / 32768.0);
}

TEST(SoundLevelsTest, WeightingFollowsTheExactCurvesAtThirdOctaves) {
    // IEC class 1 limits above 10 kHz (12.5 kHz: +3.0/-6.0, 16 kHz: +3.5/-17); 0.3 dB below.
    std::printf("%10s %9s %8s %9s %8s\n", "f/Hz", "A exact", "A dev", "C exact", "C dev");
    for (int k = 10; k <= 42; ++k) {
        const double f = 1000.0 * std::pow(10.0, (k - 30) / 10.0);
        SoundLevelMeter meter;
        const auto sine = tone(f, 0.9, 2.5);
        const std::size_t settled = 22050;  // half a second for the filters to settle
        feed(meter, sine, 0, settled);
        const SoundLevelSnapshot from = meter.read();
        feed(meter, sine, settled);
        const SoundLevelSnapshot to = meter.read();
        const double z = equivalentLevelDb(from, to, Weighting::Z);
        const double a = equivalentLevelDb(from, to, Weighting::A) - z;
        const double c = equivalentLevelDb(from, to, Weighting::C) - z;
        const double devA = a - exactWeightingDb(Weighting::A, f);
        const double devC = c - exactWeightingDb(Weighting::C, f);
        std::printf("%10.1f %9.3f %8.3f %9.3f %8.3f\n", f, exactWeightingDb(Weighting::A, f), devA,
                    exactWeightingDb(Weighting::C, f), devC);
        double above = 0.3, below = 0.3;
        if (k == 41) {
            above = 3.0;
            below = 6.0;
        } else if (k == 42) {
            above = 3.5;
            below = 17.0;
        }
        EXPECT_LE(devA, above) << f << " Hz, A";
        EXPECT_GE(devA, -below) << f << " Hz, A";
        EXPECT_LE(devC, above) << f << " Hz, C";
        EXPECT_GE(devC, -below) << f << " Hz, C";
    }
}

TEST(SoundLevelsTest, ToneBurstsAndDecayFollowFastAndSlow) {
    const double peak = 0.5;
    SoundLevelMeter steady;
    feed(steady, tone(4000.0, peak, 6.0));
    const double steadyLAF = steady.read().LAF;
    const double steadyLAS = steady.read().LAS;
    ASSERT_NEAR(steadyLAF, steadyLAS, 0.05);

    struct Burst {
        double ms, fast, slow, above, below;
    };
    // Expected responses relative to the steady level with their class 1 tolerances.
    for (const Burst& b : {Burst{200, -1.0, -7.4, 0.5, 0.5}, Burst{2, -18.0, -27.0, 1.0, 1.5},
                           Burst{0.25, -27.0, NAN, 1.0, 3.0}}) {
        SoundLevelMeter meter;
        feed(meter, silence(0.5));
        feed(meter, tone(4000.0, peak, b.ms / 1000.0));
        const double slowAtEnd = meter.read().LAS - steadyLAS;  // the Slow maximum
        feed(meter, silence(1.0));
        const double fastMax = meter.read().LAFmax - steadyLAF;
        std::printf("burst %.2f ms: Fast %.2f dB, Slow %.2f dB\n", b.ms, fastMax, slowAtEnd);
        EXPECT_LE(fastMax, b.fast + b.above) << b.ms << " ms";
        EXPECT_GE(fastMax, b.fast - b.below) << b.ms << " ms";
        if (!std::isnan(b.slow)) {
            const double below = b.ms == 2 ? 3.0 : b.below;
            EXPECT_LE(slowAtEnd, b.slow + b.above) << b.ms << " ms";
            EXPECT_GE(slowAtEnd, b.slow - below) << b.ms << " ms";
        }
    }

    // Decay once the tone stops: measured between 0.1 s and 0.6 s (Fast), 1 s and 3 s (Slow).
    SoundLevelMeter fast;
    feed(fast, tone(4000.0, peak, 2.0));
    feed(fast, silence(0.1));
    const double f1 = fast.read().LAF;
    feed(fast, silence(0.5));
    const double fastRate = (f1 - fast.read().LAF) / 0.5;
    feed(steady, silence(1.0));
    const double s1 = steady.read().LAS;
    feed(steady, silence(2.0));
    const double slowRate = (s1 - steady.read().LAS) / 2.0;
    std::printf("decay: Fast %.2f dB/s, Slow %.2f dB/s\n", fastRate, slowRate);
    EXPECT_NEAR(fastRate, 34.7, 0.5);
    EXPECT_NEAR(slowRate, 4.3, 0.1);
}

TEST(SoundLevelsTest, LeqOfSteadyAndSwitchedTones) {
    SoundLevelMeter full;
    feed(full, tone(1000.0, 1.0, 3.0));
    SoundLevelSnapshot s = full.read();
    EXPECT_NEAR(s.LZF, sineDbfs(1.0), 0.02);  // a full-scale sine reads 0.0 dBFS
    EXPECT_NEAR(s.LZeq1s, sineDbfs(1.0), 0.01);
    EXPECT_NEAR(s.LCpeak1s, sineDbfs(1.0) + 3.01, 0.05);  // the peak is 3 dB above the RMS

    SoundLevelMeter steady;
    feed(steady, tone(1000.0, 0.25, 10.0));
    s = steady.read();
    const double level = sineDbfs(0.25);
    EXPECT_NEAR(s.LAeq, level, 0.1);
    EXPECT_NEAR(s.LCeq, level, 0.1);
    EXPECT_NEAR(s.LAeq1s, level, 0.1);
    EXPECT_NEAR(s.LAF, level, 0.1);
    EXPECT_NEAR(s.LAFmax1s, level, 0.1);
    EXPECT_EQ(s.framesCaptured, 441000u);
    EXPECT_EQ(s.wholeSeconds, 10u);

    // Half a second on, half off: 3.0 dB below the steady level, since start and per second.
    SoundLevelMeter switched;
    const auto on = tone(1000.0, 0.25, 0.5);
    const auto off = silence(0.5);
    for (int i = 0; i < 10; ++i) {
        feed(switched, on);
        feed(switched, off);
    }
    s = switched.read();
    EXPECT_NEAR(s.LAeq, level - 3.0, 0.1);
    EXPECT_NEAR(s.LAeq1s, level - 3.0, 0.1);
    EXPECT_NEAR(s.LAFmax1s, level, 0.1);

    // Silence reads the floor everywhere; an offset moves every level, the floor stays.
    SoundLevelMeter quiet;
    feed(quiet, silence(1.5));
    quiet.setCalibration(94.0, true);
    s = quiet.read();
    for (double v : {s.LAF, s.LAS, s.LCF, s.LZF, s.LAeq, s.LCeq, s.LAeq1s, s.LCeq1s, s.LZeq1s,
                     s.LAFmax, s.LCpeak, s.LAFmax1s, s.LCpeak1s}) {
        EXPECT_EQ(v, kLevelFloorDb);
    }
    steady.setCalibration(100.0, true);
    s = steady.read();
    EXPECT_TRUE(s.calibrated);
    EXPECT_NEAR(s.LAeq, level + 100.0, 0.1);
}

// A reader never sees the values of one block with the frame count of another. The meter is
// fed a constant, so every consistent snapshot has sumSquaresZ = frames × 0.25² exactly.
TEST(SoundLevelsTest, ReadingsWhilePublishingAreWholeBlocks) {
    SoundLevelMeter meter;
    const double square = 0.25 * 0.25;
    std::vector<float> block(997, 0.25f);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int i = 0; i < 4000; ++i) {
            meter.process(block.data(), static_cast<std::uint32_t>(block.size()));
        }
        done.store(true);
    });
    long reads = 0;
    while (!done.load()) {
        const SoundLevelSnapshot s = meter.read();
        ASSERT_EQ(s.sumSquaresZ, static_cast<double>(s.framesCaptured) * square);
        ++reads;
    }
    audio.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(meter.read().framesCaptured, 4000u * 997u);
}

// LAFmin,1s is the second's quietest 100 ms LAF sample: the steady tone's level, and after a
// step 20 dB down half a second before the second's end, the Fast decay's value at that end.
TEST(SoundLevelsTest, ASecondsLAFminIsItsQuietestTick) {
    SoundLevelMeter meter;
    std::vector<float> s = tone(1000.0, 0.1, 3.0);
    for (std::size_t n = s.size() - 22050; n < s.size(); ++n) {
        s[n] *= 0.1f;
    }
    std::vector<double> lafMin;
    for (std::size_t at = 0; at < s.size(); at += 1024) {
        meter.process(s.data() + at,
                      static_cast<std::uint32_t>(std::min<std::size_t>(1024, s.size() - at)));
        SoundLevelMeter::ClosedSecond closed;
        if (meter.takeClosedSecond(&closed)) {
            lafMin.push_back(meanSquareToDb(closed.minMeanSquareAF, 0.0));
        }
    }
    ASSERT_EQ(lafMin.size(), 3u);
    EXPECT_NEAR(lafMin[1], sineDbfs(0.1), 0.05);
    EXPECT_NEAR(lafMin[2], sineDbfs(0.1) + 10.0 * std::log10(0.01 + 0.99 * std::exp(-4.0)), 0.1);
}

}  // namespace
}  // namespace fm::measure
