// The third-octave bands against class 1 with real signals: sines, a sweep, pink noise, a decay.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "measure/Decibels.h"
#include "measure/Quantities.h"
#include "measure/ThirdOctaveBands.h"

static long countHere = 0, allocationsCounted = 0;  // allocations are counted while countHere

void* operator new(std::size_t size) {
    allocationsCounted += countHere;
    void* p = std::malloc(size == 0 ? 1 : size);
    return p != nullptr ? p : throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace fm::measure {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;
const double kG = std::pow(10.0, 0.3);

// Feeds signal(n) for n in [from, to), in 1024-frame blocks.
template <typename Signal>
static void feed(ThirdOctaveBands& bands, std::uint32_t from, std::uint32_t to, Signal signal) {
    float block[1024];
    for (std::uint32_t at = from; at < to; at += 1024) {
        const std::uint32_t n = std::min(1024u, to - at);
        for (std::uint32_t i = 0; i < n; ++i) {
            block[i] = static_cast<float>(signal(at + i));
        }
        bands.process(block, n);
    }
}

// A band's mean square for a full-scale sine faded in over 0.8 s (lest the narrow low bands ring)
// over 4 s from 2.5 s on: whole blocks, which every octave's decimated samples cover exactly.
static double sineMeanSquare(int band, double f) {
    ThirdOctaveBands bands;
    const auto sine = [&](std::uint32_t n) {
        const double t = n / kRate;
        return (t < 0.8 ? 0.5 - 0.5 * std::cos(kPi * t / 0.8) : 1.0) * std::sin(2 * kPi * f * t);
    };
    feed(bands, 0, 108 * 1024, sine);
    const double before = bands.energy(band);
    feed(bands, 108 * 1024, 280 * 1024, sine);
    return (bands.energy(band) - before) / (172 * 1024);
}

TEST(ThirdOctaveBandsTest, StaysInsideTheClassOneLimitsAtTheirFrequencies) {
    // IEC 61260-1:2014, Table 1: class 1 limits on the relative attenuation (dB) of an octave
    // band at G^x (at its edge, x = 1/2, both sides' limits), carried to third-octave bands by the
    // standard's formula (Annex F lists the results): Ω = 1 + (G^(1/6) - 1) / (G^(1/2) - 1) ×
    // (G^x - 1) above the mid-band frequency, 1/Ω below.
    const double x[] = {0, 0.125, 0.25, 0.375, 0.5, 1, 2, 3, 4};
    const double least[] = {-0.4, -0.4, -0.4, -0.4, 1.2, 16.6, 40.5, 60.0, 70.0};
    const double most[] = {0.4, 0.5, 0.7, 1.4, 5.3, INFINITY, INFINITY, INFINITY, INFINITY};
    for (const int band : {0, 17, 29}) {  // the lowest, a decimated octave's top, the top
        const double fm = 1000 * std::pow(10, band / 10.0 - 1.7), atMid = sineMeanSquare(band, fm);
        EXPECT_NEAR(meanSquareToDb(atMid), 0.0, 0.05) << "band " << band;  // 0 dB: full scale
        for (int i = 0; i < 9; ++i) {
            const double omega =
                1 + (std::pow(kG, 1.0 / 6) - 1) / (std::sqrt(kG) - 1) * (std::pow(kG, x[i]) - 1);
            for (const double side : {1.0, -1.0}) {
                const double f = fm * std::pow(omega, side);
                if (f >= kRate / 2 || (i == 0 && side < 0)) {
                    continue;
                }
                const double attenuation = -10 * std::log10(sineMeanSquare(band, f) / atMid);
                EXPECT_GE(attenuation, least[i]) << "band " << band << " at " << f << " Hz";
                EXPECT_LE(attenuation, most[i]) << "band " << band << " at " << f << " Hz";
                if (attenuation < 140) {  // the designed response, above the float floor
                    EXPECT_NEAR(-ThirdOctaveBands().responseDb(band, f), attenuation, 0.05) << f;
                }
            }
        }
    }
}

TEST(ThirdOctaveBandsTest, EffectiveBandwidthIsWithinClassOne) {
    // A sweep at L = T / ln(f2 / f1) s per neper gives a band rate × L × ∫|H|² dΩ/Ω / 2: its
    // effective bandwidth (|H(fm)| = 1, as the limits test measures), ln(G) / 3 if ideal.
    const double f1 = 2, f2 = 22000, seconds = 20, l = seconds / std::log(f2 / f1);
    ThirdOctaveBands bands;
    feed(bands, 0, static_cast<std::uint32_t>((seconds + 1) * kRate), [&](std::uint32_t n) {
        const double t = n / kRate, edge = std::min(t, seconds - t);
        const double fade = edge <= 0 ? 0.0 : edge < 0.5 ? std::sin(kPi * edge) : 1.0;
        return fade * std::sin(2 * kPi * f1 * l * (std::exp(t / l) - 1));
    });
    for (int band = 0; band < kBandCount; ++band) {
        const double effective = 2 * bands.energy(band) / (kRate * l) / (std::log(kG) / 3);
        EXPECT_NEAR(10 * std::log10(effective), 0.0, 0.4) << "band " << band;
    }
}

TEST(ThirdOctaveBandsTest, PinkNoiseBandsSumToTheBandLimitedLevel) {
    // Pink noise made in the frequency domain (|X|² ∝ 1/f, random phases) is periodic: after a
    // period every filter is steady, and the components between the outer band edges have the
    // mean square Σ 2|X|².
    const std::uint32_t n = 1 << 18;
    std::vector<std::complex<float>> spectrum(n / 2 + 1);  // FFTW's layout
    std::vector<float> noise(n);
    std::mt19937 rng(11);
    const double low = 1000 * std::pow(10.0, -1.75), high = 1000 * std::pow(10.0, 1.25);  // edges
    double inRange = 0;
    for (std::uint32_t k = 1; k < n / 2; ++k) {
        const double f = k * kRate / n, a = 2e-4 / std::sqrt(f), p = rng() * 2 * kPi / 0x1p32;
        spectrum[k] = std::polar(static_cast<float>(a), static_cast<float>(p));
        inRange += f >= low && f <= high ? 2 * a * a : 0;
    }
    fftwf_plan plan = fftwf_plan_dft_c2r_1d(n, reinterpret_cast<fftwf_complex*>(spectrum.data()),
                                            noise.data(), FFTW_ESTIMATE);
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);
    ThirdOctaveBands bands;
    const auto periodic = [&](std::uint32_t i) { return noise[i % n]; };
    double sum = 0;  // the second period's energy in all bands
    for (const double sign : {-1.0, 1.0}) {
        feed(bands, sign < 0 ? 0 : n, sign < 0 ? n : 2 * n, periodic);
        for (int b = 0; b < kBandCount; ++b) {
            sum += sign * bands.energy(b) / n;
        }
    }
    EXPECT_NEAR(10 * std::log10(sum / inRange), 0.0, 0.3);
}

TEST(ThirdOctaveBandsTest, FastFallsAt34Point7DecibelsASecondAfterATone) {
    // 10 lg(e) / 0.125 s, once the 1 kHz band's own ringing is gone.
    ThirdOctaveBands bands;
    feed(bands, 0, 44100, [](std::uint32_t n) { return std::sin(2 * kPi * 1000 * n / kRate); });
    feed(bands, 0, 9216, [](std::uint32_t) { return 0.0; });
    const double early = meanSquareToDb(bands.fastMeanSquare(17));
    feed(bands, 0, 22016, [](std::uint32_t) { return 0.0; });
    EXPECT_NEAR((early - meanSquareToDb(bands.fastMeanSquare(17))) * kRate / 22016, 34.74, 0.1);
}

TEST(ThirdOctaveBandsTest, ProcessAndResetAllocateNothingAndResetStartsAfresh) {
    const auto chirp = [](std::uint32_t n) {  // through every band; two samples no number
        return n == 100 ? NAN : n == 200 ? INFINITY : std::sin(0.001 * n * n);
    };
    ThirdOctaveBands fresh, reused;
    feed(fresh, 0, 3000, chirp);
    countHere = 1;
    // The counter sees an allocation (a call, not a new-expression, which -O3 may elide).
    ::operator delete(::operator new(sizeof(int)));
    const long counterWorks = allocationsCounted;
    allocationsCounted = 0;
    feed(reused, 0, 1777, chirp);  // an odd count: leaves the decimators mid-phase
    reused.reset();
    feed(reused, 0, 3000, chirp);
    countHere = 0;
    EXPECT_EQ(counterWorks, 1);
    EXPECT_EQ(allocationsCounted, 0);
    for (int b = 0; b < kBandCount; ++b) {
        EXPECT_EQ(reused.energy(b), fresh.energy(b)) << b;  // and a number: NaN equals nothing
        EXPECT_EQ(reused.fastMeanSquare(b), fresh.fastMeanSquare(b)) << b;
    }
}

TEST(ThirdOctaveBandsTest, TwoOctavesSideBySideGiveWhatOneAtATimeGives) {
    if (!ThirdOctaveBands::wideAvailable()) {
        GTEST_SKIP() << "this processor has no AVX-512";
    }
    ThirdOctaveBands wide(48000.0), narrow(48000.0, false);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> block(1024);
    // Uneven blocks: the top octave runs out before the lower ones, or they before it.
    for (const std::uint32_t n : {1024u, 1u, 1000u, 37u, 1024u, 3u, 511u, 1024u, 2u, 900u}) {
        for (std::uint32_t i = 0; i < n; ++i) {
            block[i] = noise(random);
        }
        wide.process(block.data(), n);
        narrow.process(block.data(), n);
    }
    for (int b = 0; b < kBandCount; ++b) {
        EXPECT_NEAR(wide.energy(b), narrow.energy(b), 1e-12 * narrow.energy(b)) << b;
        EXPECT_NEAR(wide.fastMeanSquare(b), narrow.fastMeanSquare(b),
                    1e-12 * narrow.fastMeanSquare(b))
            << b;
    }
}

// The names every column, key and metric label is made from: a band renamed breaks its readers.
TEST(ThirdOctaveBandsTest, TheThirtyBandsKeepTheirNominalNames) {
    std::string labels;
    std::vector<double> hz;
    for (int b = 0; b < kBandCount; ++b) {
        labels += std::string(b > 0 ? "," : "") + bandLabel(b);
        hz.push_back(bandNominalHz(b));
    }
    EXPECT_EQ(labels,
              "20Hz,25Hz,31.5Hz,40Hz,50Hz,63Hz,80Hz,100Hz,125Hz,160Hz,200Hz,250Hz,315Hz,400Hz,"
              "500Hz,630Hz,800Hz,1kHz,1.25kHz,1.6kHz,2kHz,2.5kHz,3.15kHz,4kHz,5kHz,6.3kHz,8kHz,"
              "10kHz,12.5kHz,16kHz");
    EXPECT_EQ(hz,
              (std::vector<double>{20,   25,   31.5, 40,   50,   63,   80,   100,   125,   160,
                                   200,  250,  315,  400,  500,  630,  800,  1000,  1250,  1600,
                                   2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000}));
}

}  // namespace fm::measure
