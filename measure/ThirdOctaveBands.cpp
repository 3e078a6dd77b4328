#include "measure/ThirdOctaveBands.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <stdexcept>
#include <string>

// Builds for AVX2 and AVX-512 beside the baseline one, chosen by the processor (GCC on x86-64,
// not under ThreadSanitizer: see FM_ALSO_FOR_AVX2 below).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define FM_PROCESSOR_BUILDS 1
#else
#define FM_PROCESSOR_BUILDS 0
#endif

namespace fm::measure {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTauFast = 0.125;
// The octave frequency ratio of the base-10 system, G = 10^(3/10) (IEC 61260-1:2014).
const double kG = std::pow(10.0, 0.3);
// Band edges at G^(±1/6) of the exact mid-band frequency: the edges of a one-third-octave band
// in IEC 61260-1:2014 (G^(±1/2b) with the bandwidth designator b = 3).
const double kEdgeRatio = std::pow(kG, 1.0 / 6.0);

constexpr int kFirstX = -17;  // band 0: 1000 × 10^(-17/10) ≈ 20 Hz

constexpr std::array<double, kBandCount> kNominalHz = {
    20,  25,  31.5, 40,   50,   63,   80,   100,  125,  160,  200,  250,  315,   400,   500,
    630, 800, 1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000};

constexpr std::array<const char*, kBandCount> kLabels = {
    "20Hz",  "25Hz",   "31.5Hz",  "40Hz",  "50Hz",  "63Hz",   "80Hz",  "100Hz", "125Hz",   "160Hz",
    "200Hz", "250Hz",  "315Hz",   "400Hz", "500Hz", "630Hz",  "800Hz", "1kHz",  "1.25kHz", "1.6kHz",
    "2kHz",  "2.5kHz", "3.15kHz", "4kHz",  "5kHz",  "6.3kHz", "8kHz",  "10kHz", "12.5kHz", "16kHz"};

// The zeroth-order modified Bessel function of the first kind, by its power series (converges
// quickly for the window's arguments, below 10).
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

struct Section {
    double a1, a2;
};

// The denominators of an order-N Butterworth band-pass from f1 to f2 Hz at `rate`, by the
// bilinear transform with both edges pre-warped: the analog low-pass prototype's poles
// e^(jπ(2i + N + 1) / 2N) go through s -> (s² + W0²) / (s (W2 - W1)), whose poles map to
// z = (1 + s) / (1 - s) (s in units of 2 × rate). Each conjugate pair of digital poles is one
// section; every section's numerator is 1 - z^-2 (the band-pass zeros at 0 Hz and at half the
// rate).
template <int N>
std::array<Section, N> butterworthBandPass(double f1, double f2, double rate) {
    const double w1 = std::tan(kPi * f1 / rate);
    const double w2 = std::tan(kPi * f2 / rate);
    const double bw = w2 - w1;
    const double w0Squared = w1 * w2;
    std::array<Section, N> sections{};
    int made = 0;
    for (int i = 0; i < N; ++i) {
        const std::complex<double> p = std::polar(1.0, kPi * (2.0 * i + N + 1.0) / (2.0 * N));
        const std::complex<double> root = std::sqrt(p * p * bw * bw - 4.0 * w0Squared);
        for (const std::complex<double> s : {(p * bw + root) / 2.0, (p * bw - root) / 2.0}) {
            if (s.imag() > 0.0 && made < N) {  // the other of the pair is its conjugate
                const std::complex<double> z = (1.0 + s) / (1.0 - s);
                sections[static_cast<std::size_t>(made++)] = {-2.0 * z.real(), std::norm(z)};
            }
        }
    }
    return sections;
}

std::complex<double> sectionResponse(double a1, double a2, double cyclesPerSample) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * cyclesPerSample);
    return (1.0 - z1 * z1) / (1.0 + z1 * (a1 + z1 * a2));
}

// Four doubles that the compiler keeps in vector registers (two SSE2 registers, or one AVX).
typedef double Lanes __attribute__((vector_size(4 * sizeof(double))));
// Eight: one AVX-512 register, two octaves side by side.
typedef double WideLanes __attribute__((vector_size(8 * sizeof(double))));

// By reference: a vector passed by value would change the calling convention with AVX.
template <typename V>
[[gnu::always_inline]] inline void load(V& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

template <typename V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

// One octave's band filters (or two octaves' side by side) in registers for a pass over their
// samples. Every band's numerator, (1 - z^-2)^4, has been applied to the octave's samples once
// for all its bands (applyNumerator()), so each section here is all-pole, y = x - a2 y2 - a1 y1:
// the output's own recursion is one multiply-add long. h1[s], h2[s] hold the last two outputs of
// section s. The squares are summed, and Fast-weighted, before the band's gain and the Fast step,
// which scale the results once.
template <typename V, int N>
struct BandPass {
    static constexpr int kLanesPerOctave = 4;
    static constexpr int kOctavesSideBySide = sizeof(V) / (kLanesPerOctave * sizeof(double));
    V h1[N], h2[N], a1[N], a2[N], keep, fast, sum;

    // The octaves' lanes side by side, lanes 0-3 from the first. Assigned whole, so that the
    // compiler keeps the pass's values in registers rather than in memory.
    template <typename Octave, typename Lanes4>
    [[gnu::always_inline]] static void pack(V& v, Octave* const (&octaves)[kOctavesSideBySide],
                                            Lanes4 lanes) {
        if constexpr (kOctavesSideBySide == 1) {
            std::memcpy(&v, lanes(*octaves[0]), sizeof v);
        } else {
            Lanes first, second;
            std::memcpy(&first, lanes(*octaves[0]), sizeof first);
            std::memcpy(&second, lanes(*octaves[1]), sizeof second);
            v = __builtin_shufflevector(first, second, 0, 1, 2, 3, 4, 5, 6, 7);
        }
    }

    template <typename Octave, typename Lanes4>
    [[gnu::always_inline]] static void unpack(const V& v,
                                              Octave* const (&octaves)[kOctavesSideBySide],
                                              Lanes4 lanes) {
        for (int k = 0; k < kOctavesSideBySide; ++k) {
            double* to = lanes(*octaves[k]);
            for (int l = 0; l < kLanesPerOctave; ++l) {
                to[l] = v[kLanesPerOctave * k + l];
            }
        }
    }

    template <typename Octave>
    [[gnu::always_inline]] void take(Octave* const (&octaves)[kOctavesSideBySide]) {
        for (int s = 0; s < N; ++s) {
            pack(h1[s], octaves, [s](Octave& o) { return o.h1[s]; });
            pack(h2[s], octaves, [s](Octave& o) { return o.h2[s]; });
            pack(a1[s], octaves, [s](Octave& o) { return o.a1[s]; });
            pack(a2[s], octaves, [s](Octave& o) { return o.a2[s]; });
        }
        pack(fast, octaves, [](Octave& o) { return o.fast; });
        pack(keep, octaves, [](Octave& o) { return o.fastKeep; });
        sum = V{};
    }

    // The states back, and the pass's energy added to the octaves' sums.
    template <typename Octave>
    [[gnu::always_inline]] void give(Octave* const (&octaves)[kOctavesSideBySide]) const {
        for (int s = 0; s < N; ++s) {
            unpack(h1[s], octaves, [s](Octave& o) { return o.h1[s]; });
            unpack(h2[s], octaves, [s](Octave& o) { return o.h2[s]; });
        }
        unpack(fast, octaves, [](Octave& o) { return o.fast; });
        for (int k = 0; k < kOctavesSideBySide; ++k) {
            Octave& o = *octaves[k];
            for (int l = 0; l < kLanesPerOctave; ++l) {
                const double e =
                    sum[kLanesPerOctave * k + l] * o.gainSquared[l] * o.framesPerSample;
                o.energy[l] += e;
                o.interval[l] += e;
            }
        }
    }

    // `input(i, in)` sets the lanes' i-th input (by reference: a vector returned by value would
    // change the calling convention with AVX).
    template <typename Input>
    [[gnu::always_inline]] void run(std::uint32_t n, Input input) {
        V f = fast, total = sum;  // locals, whose addresses are never taken: kept in registers
#pragma GCC unroll 2
        for (std::uint32_t i = 0; i < n; ++i) {
            V in;
            input(i, in);
            for (int s = 0; s < N; ++s) {
                const V y = in - a2[s] * h2[s] - a1[s] * h1[s];
                h2[s] = h1[s];
                h1[s] = y;
                in = y;
            }
            const V squared = in * in;
            total += squared;
            f = keep * f + squared;
        }
        fast = f;
        sum = total;
    }
};

// The half-band low-pass's outputs 0 ... made - 1 from its input's two parities (see
// ThirdOctaveBands::gatherParities()), as many at a time as V holds.
template <typename V, std::size_t H>
[[gnu::always_inline]] inline void halfBandSums(const double* evens, const double* odds,
                                                std::uint32_t made,
                                                const std::array<double, H>& taps, double centreTap,
                                                double* out) {
    constexpr std::uint32_t kWidth = sizeof(V) / sizeof(double);
    std::uint32_t m = 0;
    for (; m + kWidth <= made; m += kWidth) {
        V sum, before, after;
        load(sum, odds + m);
        sum *= centreTap;
        for (std::size_t j = 0; j < H; ++j) {
            load(before, evens + (H - 1 - j) + m);
            load(after, evens + (H + j) + m);
            sum += taps[j] * (before + after);
        }
        store(out + m, sum);
    }
    for (; m < made; ++m) {
        double sum = centreTap * odds[m];
        for (std::size_t j = 0; j < H; ++j) {
            sum += taps[j] * (evens[(H - 1 - j) + m] + evens[(H + j) + m]);
        }
        out[m] = sum;
    }
}

double flushed(double v) {
    return std::fabs(v) < 1e-30 ? 0.0 : v;
}

}  // namespace

bool ThirdOctaveBands::wideAvailable() {
#if FM_PROCESSOR_BUILDS
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("x86-64-v4") != 0;
    }();
    return available;
#else
    return false;
#endif
}

ThirdOctaveBands::ThirdOctaveBands(double sampleRate, bool allowWide)
    : sampleRate_(sampleRate), wide_(allowWide && wideAvailable()) {
    if (!(sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate)) {
        throw std::invalid_argument(
            "third-octave bands: the sample rate must be from 44100 to "
            "96000 Hz for the 16 kHz band and the octave decimation, not " +
            std::to_string(sampleRate));
    }
    // The decimating low-pass: a windowed sinc cut at a quarter of the rate (a half-band filter:
    // every even tap but the centre is zero), Kaiser window β = 7.4: flat within 0.003 dB up to
    // 0.21 of the rate, which holds the next octave's top band up to its upper edge, and at
    // least 69.9 dB down from 0.29 of the rate, so that what folds onto the next octave's bands
    // lies below their class 1 limits.
    const double beta = 7.4;
    double sum = 0.5;
    for (int m = 0; m < kHalfTaps; ++m) {
        const double offset = 2.0 * m + 1.0;
        const double t = offset / (kHistory / 2.0);
        const double window = besselI0(beta * std::sqrt(1.0 - t * t)) / besselI0(beta);
        const double sinc = std::sin(kPi * offset / 2.0) / (kPi * offset / 2.0);
        taps_[static_cast<std::size_t>(m)] = 0.5 * sinc * window;
        sum += 2.0 * taps_[static_cast<std::size_t>(m)];
    }
    for (double& tap : taps_) {  // unit gain at 0 Hz
        tap /= sum;
    }
    // The centre tap, 0.5, is divided by the same sum in decimate().
    centreTap_ = 0.5 / sum;

    for (int k = 0; k < kOctaves; ++k) {
        Octave& o = octaves_[static_cast<std::size_t>(k)];
        o.rate = sampleRate / std::ldexp(1.0, k);
        o.framesPerSample = std::ldexp(1.0, k);
        o.fastStep = 1.0 - std::exp(-1.0 / (kTauFast * o.rate));
        std::fill(std::begin(o.fastKeep), std::end(o.fastKeep), 1.0 - o.fastStep);
    }
    for (int band = 0; band < kBandCount; ++band) {
        Octave& o = octaves_[static_cast<std::size_t>(octaveOf(band))];
        const int lane = laneOf(band);
        const double fm = exactMidHz(band);
        const auto sections =
            butterworthBandPass<kSections>(fm / kEdgeRatio, fm * kEdgeRatio, o.rate);
        std::complex<double> atMid = 1.0;
        for (int s = 0; s < kSections; ++s) {
            o.a1[s][lane] = sections[static_cast<std::size_t>(s)].a1;
            o.a2[s][lane] = sections[static_cast<std::size_t>(s)].a2;
            atMid *= sectionResponse(o.a1[s][lane], o.a2[s][lane], fm / o.rate);
        }
        o.gain[lane] = 1.0 / std::abs(atMid);  // 0 dB at the exact mid-band frequency
        o.gainSquared[lane] = o.gain[lane] * o.gain[lane];
    }
    signal_.assign(static_cast<std::size_t>(kOctaves) * (kHistory + kChunk), 0.0);
    bandInput_.assign(static_cast<std::size_t>(bandInputOffset(kOctaves)), 0.0);
    evens_.assign(kChunk / 2 + kHistory, 0.0);
    odds_.assign(kChunk / 2 + 1, 0.0);
}

int ThirdOctaveBands::checkedBand(int band) {
    if (band < 0 || band >= kBandCount) {
        throw std::out_of_range("third-octave band " + std::to_string(band) +
                                ": the bands are 0 (20 Hz) to 29 (16 kHz)");
    }
    return band;
}

double ThirdOctaveBands::exactMidHz(int band) {
    return 1000.0 * std::pow(10.0, (checkedBand(band) + kFirstX) / 10.0);
}

double ThirdOctaveBands::nominalMidHz(int band) {
    return kNominalHz[static_cast<std::size_t>(checkedBand(band))];
}

const char* ThirdOctaveBands::label(int band) {
    return kLabels[static_cast<std::size_t>(checkedBand(band))];
}

double ThirdOctaveBands::energy(int band) const {
    checkedBand(band);
    return octaves_[static_cast<std::size_t>(octaveOf(band))].energy[laneOf(band)];
}

std::array<double, kBandCount> ThirdOctaveBands::takeIntervalEnergy() {
    std::array<double, kBandCount> taken{};
    for (int band = 0; band < kBandCount; ++band) {
        double& e = octaves_[static_cast<std::size_t>(octaveOf(band))].interval[laneOf(band)];
        taken[static_cast<std::size_t>(band)] = e;
        e = 0.0;
    }
    return taken;
}

double ThirdOctaveBands::fastMeanSquare(int band) const {
    checkedBand(band);
    const Octave& o = octaves_[static_cast<std::size_t>(octaveOf(band))];
    const int lane = laneOf(band);
    return o.fast[lane] * o.fastStep * o.gainSquared[lane];
}

void ThirdOctaveBands::reset() {
    for (Octave& o : octaves_) {
        std::fill(&o.h1[0][0], &o.h1[0][0] + kSections * kLanes, 0.0);
        std::fill(&o.h2[0][0], &o.h2[0][0] + kSections * kLanes, 0.0);
        std::fill(std::begin(o.fast), std::end(o.fast), 0.0);
        std::fill(std::begin(o.energy), std::end(o.energy), 0.0);
        std::fill(std::begin(o.interval), std::end(o.interval), 0.0);
        o.phase = 0;
    }
    std::fill(signal_.begin(), signal_.end(), 0.0);
    frames_ = 0;
}

void ThirdOctaveBands::process(const float* samples, std::uint32_t frames) {
    while (frames > 0) {
        const std::uint32_t n = std::min(frames, kChunk);
        double* top = signal(0) + kHistory;
        for (std::uint32_t i = 0; i < n; ++i) {
            const double v = samples[i];
            top[i] = std::isfinite(v) ? v : 0.0;
        }
        // Each octave's samples, decimated from the one above, through the bands' common
        // numerator, then all the band filters.
        std::array<std::uint32_t, kOctaves> counts{};
        counts[0] = n;
        for (int k = 0; k < kOctaves; ++k) {
            const std::uint32_t count = counts[static_cast<std::size_t>(k)];
            if (k + 1 < kOctaves) {
                Octave& o = octaves_[static_cast<std::size_t>(k)];
                double* next = signal(k + 1) + kHistory;
                counts[static_cast<std::size_t>(k) + 1] =
#if FM_PROCESSOR_BUILDS
                    wide_ ? decimateWide(o, signal(k), count, next) :
#endif
                          decimate(o, signal(k), count, next);
            }
            applyNumerator(signal(k) + kHistory, count, bandInput(k));
        }
        filterOctaves(counts);
        for (int k = 0; k < kOctaves; ++k) {
            // The last kHistory samples become the history of the next chunk.
            double* x = signal(k);
            std::memmove(x, x + counts[static_cast<std::size_t>(k)], kHistory * sizeof(double));
        }
        frames_ += n;
        samples += n;
        frames -= n;
    }
    // A decaying state would otherwise reach the slow subnormal range in silence.
    for (Octave& o : octaves_) {
        for (int s = 0; s < kSections; ++s) {
            for (int l = 0; l < kLanes; ++l) {
                o.h1[s][l] = flushed(o.h1[s][l]);
                o.h2[s][l] = flushed(o.h2[s][l]);
            }
        }
        for (double& f : o.fast) {
            f = flushed(f);
        }
    }
}

// With AVX2 an octave's four lanes fill one register and the states of all four sections fit the
// register file (the whole bank runs about five times faster), and the decimator's sums run four
// outputs at a time; the baseline version is kept for processors without it, chosen once when
// the program loads. Not under ThreadSanitizer: the choice is made while the program is being
// loaded, before the sanitizer's runtime can run the code it instruments. With AVX-512 (FM_WIDE)
// two octaves share a register and the decimator sums eight outputs at a time: the bank costs
// about two thirds of the AVX2 build's.
#if FM_PROCESSOR_BUILDS
#define FM_ALSO_FOR_AVX2 __attribute__((target_clones("arch=x86-64-v3", "default")))
#define FM_WIDE __attribute__((target("arch=x86-64-v4")))
#else
#define FM_ALSO_FOR_AVX2
#endif

FM_ALSO_FOR_AVX2 void ThirdOctaveBands::filterOctave(Octave& o, const double* x, std::uint32_t n) {
    BandPass<Lanes, kSections> pass;
    Octave* const octaves[] = {&o};
    pass.take(octaves);
    pass.run(n, [x](std::uint32_t i, Lanes& in) { in = Lanes{x[i], x[i], x[i], x[i]}; });
    pass.give(octaves);
}

// The numerator every band filter shares, (1 - z^-2)^4 = 1 - 4 z^-2 + 6 z^-4 - 4 z^-6 + z^-8,
// from x (which has its history before it) to out. In this order a constant gives exactly 0.
FM_ALSO_FOR_AVX2 void ThirdOctaveBands::applyNumerator(const double* x, std::uint32_t n,
                                                       double* out) {
    for (std::uint32_t i = 0; i < n; ++i) {
        const double* at = x + i;
        out[i] = ((at[0] + at[-8]) - 4.0 * (at[-2] + at[-6])) + 6.0 * at[-4];
    }
}

#if FM_PROCESSOR_BUILDS
// Octave 0 in the lower four lanes, for as many samples as the other octave has; the other
// octave's states wait in the upper four.
FM_WIDE void ThirdOctaveBands::filterTwoOctaves(Octave& top, const double* x, Octave& low,
                                                const double* y, std::uint32_t n) {
    BandPass<WideLanes, kSections> pass;
    Octave* const octaves[] = {&top, &low};
    pass.take(octaves);
    pass.run(n, [x, y](std::uint32_t i, WideLanes& in) {
        const Lanes a = {x[i], x[i], x[i], x[i]}, b = {y[i], y[i], y[i], y[i]};
        in = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
    });
    pass.give(octaves);
}
#endif

void ThirdOctaveBands::filterOctaves(const std::array<std::uint32_t, kOctaves>& counts) {
#if FM_PROCESSOR_BUILDS
    // The lower octaves together have about as many samples as the top one: each runs beside the
    // next part of it, so that every step of the recursion serves two octaves.
    if (wide_) {
        std::uint32_t first = 0;  // the top octave's samples filtered so far
        for (int k = 1; k < kOctaves; ++k) {
            Octave& low = octaves_[static_cast<std::size_t>(k)];
            const double* y = bandInput(k);
            const std::uint32_t paired =
                std::min(counts[static_cast<std::size_t>(k)], counts[0] - first);
            if (paired > 0) {
                filterTwoOctaves(octaves_[0], bandInput(0) + first, low, y, paired);
            }
            if (paired < counts[static_cast<std::size_t>(k)]) {
                filterOctave(low, y + paired, counts[static_cast<std::size_t>(k)] - paired);
            }
            first += paired;
        }
        filterOctave(octaves_[0], bandInput(0) + first, counts[0] - first);
        return;
    }
#endif
    for (int k = 0; k < kOctaves; ++k) {
        filterOctave(octaves_[static_cast<std::size_t>(k)], bandInput(k),
                     counts[static_cast<std::size_t>(k)]);
    }
}

// x holds kHistory samples of history followed by n new ones; the low-passed signal at every
// other sample (carrying the phase across chunks) goes to `out`, and the count is returned. Output
// m is centred on x[phase + 2m + kHistory / 2]; its other nonzero taps fall on the samples
// x[phase + 2t]. Both parities are gathered first into `evens_` and `odds_`, so that four (or
// eight) outputs at a time take all their taps in registers, each sum in the same order as one
// at a time.
std::uint32_t ThirdOctaveBands::gatherParities(Octave& o, const double* x, std::uint32_t n) {
    const std::uint32_t made = n > o.phase ? (n - o.phase + 1) / 2 : 0;
    const double* from = x + o.phase;
    double* evens = evens_.data();
    double* odds = odds_.data();
    for (std::uint32_t t = 0; t < made + 2 * kHalfTaps - 1; ++t) {
        evens[t] = from[2 * t];
    }
    const double* centre = from + kHistory / 2;
    for (std::uint32_t m = 0; m < made; ++m) {
        odds[m] = centre[2 * m];
    }
    o.phase = o.phase + 2 * made - n;
    return made;
}

FM_ALSO_FOR_AVX2 std::uint32_t ThirdOctaveBands::decimate(Octave& o, const double* x,
                                                          std::uint32_t n, double* out) {
    const std::uint32_t made = gatherParities(o, x, n);
    halfBandSums<Lanes>(evens_.data(), odds_.data(), made, taps_, centreTap_, out);
    return made;
}

#if FM_PROCESSOR_BUILDS
FM_WIDE std::uint32_t ThirdOctaveBands::decimateWide(Octave& o, const double* x, std::uint32_t n,
                                                     double* out) {
    const std::uint32_t made = gatherParities(o, x, n);
    halfBandSums<WideLanes>(evens_.data(), odds_.data(), made, taps_, centreTap_, out);
    return made;
}
#endif

double ThirdOctaveBands::decimatorGain(double cyclesPerSample) const {
    double g = centreTap_;
    for (int m = 0; m < kHalfTaps; ++m) {
        g += 2.0 * taps_[static_cast<std::size_t>(m)] *
             std::cos(2.0 * kPi * cyclesPerSample * (2.0 * m + 1.0));
    }
    return std::fabs(g);
}

double ThirdOctaveBands::responseDb(int band, double hz) const {
    const int k = octaveOf(checkedBand(band));
    const int lane = laneOf(band);
    // Every stage's response repeats with its rate and is even, so a tone folded by the halvings
    // meets the same gains as at its own frequency.
    double magnitude = 1.0;
    for (int j = 0; j < k; ++j) {
        magnitude *= decimatorGain(hz / octaves_[static_cast<std::size_t>(j)].rate);
    }
    const Octave& o = octaves_[static_cast<std::size_t>(k)];
    std::complex<double> h = o.gain[lane];
    for (int s = 0; s < kSections; ++s) {
        h *= sectionResponse(o.a1[s][lane], o.a2[s][lane], hz / o.rate);
    }
    magnitude *= std::abs(h);
    return 20.0 * std::log10(std::max(magnitude, 1e-300));
}

}  // namespace fm::measure
