#include "measure/LevelEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fm::measure {

namespace {

constexpr int kB = LevelEngine::kBlock;
constexpr int kInputs = 2 + kB;
// A sample at or beyond full scale: the 16-bit extremes (32767/32768 and -1) and any float
// beyond them.
constexpr float kOverloadLevel = 32767.0f / 32768.0f;

// The block code is written once and compiled into each build: forced inline, so that it takes
// on the instruction set of the function it lands in. It needs the vector types of GCC and
// Clang; other compilers go sample by sample.
#if defined(__GNUC__)
#define FM_BLOCKS 1
#define FM_BLOCK_INLINE [[gnu::always_inline]] inline
#else
#define FM_BLOCKS 0
#endif

#if FM_BLOCKS && defined(__x86_64__)
#define FM_AVX2_FMA_BUILD 1
#else
#define FM_AVX2_FMA_BUILD 0
#endif

#if FM_BLOCKS

// Four doubles are passed in an AVX register only where AVX is on; these helpers are always
// inlined, so no call between builds ever passes one.
#if defined(__clang__)
#if __has_warning("-Wpsabi")
#pragma clang diagnostic ignored "-Wpsabi"
#endif
#else
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

// Four doubles, four floats, four 32-bit and 64-bit integers: one block of samples.
typedef double Lanes __attribute__((vector_size(kB * sizeof(double))));
typedef std::int64_t WideBits __attribute__((vector_size(kB * sizeof(double))));
typedef float FloatLanes __attribute__((vector_size(kB * sizeof(float))));
typedef std::int32_t Counts __attribute__((vector_size(kB * sizeof(float))));

FM_BLOCK_INLINE Lanes splat(double v) {
    return Lanes{v, v, v, v};
}

FM_BLOCK_INLINE Lanes load(const std::array<double, kB>& a) {
    Lanes v;
    std::memcpy(&v, a.data(), sizeof v);
    return v;
}

FM_BLOCK_INLINE Lanes magnitude(const Lanes& v) {
    return reinterpret_cast<Lanes>(reinterpret_cast<WideBits>(v) & INT64_MAX);
}

// The larger of each pair; an unordered pair keeps the first, as std::max does.
FM_BLOCK_INLINE Lanes larger(const Lanes& kept, const Lanes& v) {
    return kept < v ? v : kept;
}

FM_BLOCK_INLINE double sum(const Lanes& v) {
    return (v[0] + v[1]) + (v[2] + v[3]);
}

FM_BLOCK_INLINE double largest(const Lanes& v) {
    return std::max(std::max(v[0], v[1]), std::max(v[2], v[3]));
}

struct SectionLanes {
    Lanes input[kInputs];
    Lanes output2, output1;
};

// One section's four outputs from its last two outputs and its six inputs (two before the
// block, four in it), each given in all four lanes. The state's terms come last: only they
// wait on the last block. Where the build has FMA the compiler fuses each product with its sum.
FM_BLOCK_INLINE Lanes advance(const SectionLanes& s, const Lanes (&in)[kInputs], const Lanes& out2,
                              const Lanes& out1) {
    const Lanes p = s.input[0] * in[0] + s.input[1] * in[1];
    const Lanes q = s.input[2] * in[2] + s.input[3] * in[3];
    const Lanes r = s.input[4] * in[4] + s.input[5] * in[5];
    const Lanes v = s.output2 * out2 + ((p + q) + r);
    return s.output1 * out1 + v;
}

// Whole blocks of four samples.
FM_BLOCK_INLINE SpanTotals runBlocks(const LevelEngine::Blocks& bk, LevelEngine::State& st,
                                     const float* x, std::uint32_t blocks) {
    SectionLanes sec[3];
    for (std::size_t s = 0; s < 3; ++s) {
        for (std::size_t j = 0; j < kInputs; ++j) {
            sec[s].input[j] = load(bk.section[s].input[j]);
        }
        sec[s].output2 = load(bk.section[s].output2);
        sec[s].output1 = load(bk.section[s].output1);
    }
    Lanes fastInput[kB];
    for (std::size_t j = 0; j < kB; ++j) {
        fastInput[j] = load(bk.fastInput[j]);
    }
    const Lanes fastBefore = load(bk.fastBefore);
    const Lanes kf4 = splat(bk.keepFast4), ks4 = splat(bk.keepSlow4);

    // The signal between the sections, each value in all four lanes: the input z, lowC's
    // output y, C and A; [0] and [1] are the two samples before the block. A section's inputs
    // are the outputs of the one before it, so its own input state is not read.
    Lanes z[kInputs], y[kInputs], c[kInputs], a[2];
    const auto& q = st.section;
    z[0] = splat(q[0].x2);
    z[1] = splat(q[0].x1);
    y[0] = splat(q[0].y2);
    y[1] = splat(q[0].y1);
    c[0] = splat(q[1].y2);
    c[1] = splat(q[1].y1);
    a[0] = splat(q[2].y2);
    a[1] = splat(q[2].y1);
    Lanes fastA = splat(st.fastA);
    Lanes sumA{}, sumC{}, sumZ{}, maxFast{}, peak{};
    Counts over{};
    // Lane k holds the share of the samples 4m + k (scaled as at the block's last sample); the
    // last lane starts with the value so far.
    Lanes slowA{0, 0, 0, st.slowA}, fastC{0, 0, 0, st.fastC}, fastZ{0, 0, 0, st.fastZ};
    const FloatLanes full = {kOverloadLevel, kOverloadLevel, kOverloadLevel, kOverloadLevel};
    for (std::uint32_t m = 0; m < blocks; ++m, x += kB) {
        FloatLanes xf;
        std::memcpy(&xf, x, sizeof xf);
        // A true comparison is -1 in its lane.
        over -= reinterpret_cast<Counts>(xf >= full);
        over -= reinterpret_cast<Counts>(-xf >= full);
        const Lanes zv = __builtin_convertvector(xf, Lanes);
        for (int k = 0; k < kB; ++k) {
            z[2 + k] = splat(zv[k]);
        }
        const Lanes yv = advance(sec[0], z, y[0], y[1]);
        for (int k = 0; k < kB; ++k) {
            y[2 + k] = splat(yv[k]);
        }
        const Lanes cv = advance(sec[1], y, c[0], c[1]);
        for (int k = 0; k < kB; ++k) {
            c[2 + k] = splat(cv[k]);
        }
        const Lanes av = advance(sec[2], c, a[0], a[1]);
        const Lanes a2 = av * av, c2 = cv * cv, z2 = zv * zv;
        // Fast A at each of the block's samples.
        const Lanes p = fastInput[0] * splat(a2[0]) + fastInput[1] * splat(a2[1]);
        const Lanes r = fastInput[2] * splat(a2[2]) + fastInput[3] * splat(a2[3]);
        const Lanes fa = fastBefore * fastA + (p + r);
        fastA = splat(fa[kB - 1]);
        maxFast = larger(maxFast, fa);
        peak = larger(peak, magnitude(cv));
        sumA += a2;
        sumC += c2;
        sumZ += z2;
        slowA = ks4 * slowA + a2;
        fastC = kf4 * fastC + c2;
        fastZ = kf4 * fastZ + z2;
        a[0] = splat(av[kB - 2]);
        a[1] = splat(av[kB - 1]);
        for (Lanes* h : {z, y, c}) {
            h[0] = h[kB];
            h[1] = h[kB + 1];
        }
    }
    auto& w = st.section;
    w[0].x2 = z[0][0];
    w[0].x1 = z[1][0];
    w[0].y2 = w[1].x2 = y[0][0];
    w[0].y1 = w[1].x1 = y[1][0];
    w[1].y2 = w[2].x2 = c[0][0];
    w[1].y1 = w[2].x1 = c[1][0];
    w[2].y2 = a[0][0];
    w[2].y1 = a[1][0];
    // Lane k's share is 3 - k samples older than the last lane's.
    const auto combine = [](const Lanes& lanes, double keep) {
        return ((lanes[0] * keep + lanes[1]) * keep + lanes[2]) * keep + lanes[3];
    };
    st.fastA = fastA[0];
    st.slowA = combine(slowA, bk.keepSlow);
    st.fastC = combine(fastC, bk.keepFast);
    st.fastZ = combine(fastZ, bk.keepFast);
    SpanTotals t;
    t.sumA = sum(sumA);
    t.sumC = sum(sumC);
    t.sumZ = sum(sumZ);
    t.maxFastA = largest(maxFast);
    t.peakC = largest(peak);
    t.overloaded = static_cast<std::uint32_t>(over[0] + over[1] + over[2] + over[3]);
    return t;
}

SpanTotals runPortable(const LevelEngine::Blocks& bk, LevelEngine::State& st, const float* x,
                       std::uint32_t blocks) {
    return runBlocks(bk, st, x, blocks);
}

#if FM_AVX2_FMA_BUILD
[[gnu::target("avx2,fma")]] SpanTotals runAvx2Fma(const LevelEngine::Blocks& bk,
                                                  LevelEngine::State& st, const float* x,
                                                  std::uint32_t blocks) {
    return runBlocks(bk, st, x, blocks);
}
#endif

#endif  // FM_BLOCKS

// A section's block form: what each input and each earlier output contributes to the four
// outputs, found by running the section itself from each one alone.
LevelEngine::SectionBlock sectionBlock(const Biquad& coefficients) {
    LevelEngine::SectionBlock block{};
    for (int j = 0; j < kInputs + 2; ++j) {
        Biquad q = coefficients;
        q.x2 = j == 0 ? 1.0 : 0.0;
        q.x1 = j == 1 ? 1.0 : 0.0;
        q.y2 = j == kInputs ? 1.0 : 0.0;
        q.y1 = j == kInputs + 1 ? 1.0 : 0.0;
        for (int k = 0; k < kB; ++k) {
            const double y = q.process(j == 2 + k ? 1.0 : 0.0);
            if (j < kInputs) {
                block.input[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)] = y;
            } else if (j == kInputs) {
                block.output2[static_cast<std::size_t>(k)] = y;
            } else {
                block.output1[static_cast<std::size_t>(k)] = y;
            }
        }
    }
    return block;
}

double flushed(double v) {
    return std::fabs(v) < 1e-30 ? 0.0 : v;
}

}  // namespace

// Without FMA the blocks cost as many operations as they save: on SSE2 alone they took 8%
// longer than sample by sample here.
LevelEngine::LevelEngine(const Biquad& lowC, const Biquad& highAC, const Biquad& midA,
                         double keepFast, double keepSlow)
    : build_(available(Build::Avx2Fma) ? Build::Avx2Fma : Build::PerSample) {
    state_.section = {lowC, highAC, midA};
    for (std::size_t s = 0; s < 3; ++s) {
        Biquad& q = state_.section[s];
        q.x1 = q.x2 = q.y1 = q.y2 = 0.0;
        blocks_.section[s] = sectionBlock(q);
    }
    // Fast A at sample k of a block: keep^(k-j) of squared sample j <= k, keep^(k+1) of the
    // value before the block.
    for (std::size_t k = 0; k < kB; ++k) {
        double power = 1.0;
        for (std::size_t j = k + 1; j-- > 0;) {
            blocks_.fastInput[j][k] = power;
            power *= keepFast;
        }
        blocks_.fastBefore[k] = power;
    }
    blocks_.keepFast = keepFast;
    blocks_.keepSlow = keepSlow;
    blocks_.keepFast4 = blocks_.fastBefore[kB - 1];
    blocks_.keepSlow4 = (keepSlow * keepSlow) * (keepSlow * keepSlow);
}

bool LevelEngine::available(Build build) {
    switch (build) {
        case Build::PerSample:
            return true;
        case Build::Portable:
            return FM_BLOCKS != 0;
        case Build::Avx2Fma:
#if FM_AVX2_FMA_BUILD
            // The detection may not have run yet when a static object is made.
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
            return false;
#endif
    }
    return false;
}

void LevelEngine::use(Build build) {
    if (available(build)) {
        build_ = build;
    }
}

SpanTotals LevelEngine::run(const float* samples, std::uint32_t frames) {
    std::uint32_t blocks = 0;
    SpanTotals t;
#if FM_BLOCKS
    if (build_ != Build::PerSample) {
        blocks = frames / kB;
    }
    if (blocks > 0) {
#if FM_AVX2_FMA_BUILD
        t = build_ == Build::Avx2Fma ? runAvx2Fma(blocks_, state_, samples, blocks)
                                     : runPortable(blocks_, state_, samples, blocks);
#else
        t = runPortable(blocks_, state_, samples, blocks);
#endif
    }
#endif
    const SpanTotals rest = runPerSample(samples + blocks * kB, frames - blocks * kB);
    t.sumA += rest.sumA;
    t.sumC += rest.sumC;
    t.sumZ += rest.sumZ;
    t.maxFastA = std::max(t.maxFastA, rest.maxFastA);
    t.peakC = std::max(t.peakC, rest.peakC);
    t.overloaded += rest.overloaded;
    return t;
}

SpanTotals LevelEngine::runPerSample(const float* samples, std::uint32_t frames) {
    // Locals, so that the compiler keeps the running values in registers.
    Biquad lowC = state_.section[0], highAC = state_.section[1], midA = state_.section[2];
    double af = state_.fastA, as = state_.slowA, cf = state_.fastC, zf = state_.fastZ;
    const double kf = blocks_.keepFast, ks = blocks_.keepSlow;
    SpanTotals t;
    for (std::uint32_t n = 0; n < frames; ++n) {
        t.overloaded += std::fabs(samples[n]) >= kOverloadLevel ? 1u : 0u;
        const double z = static_cast<double>(samples[n]);
        const double c = highAC.process(lowC.process(z));
        const double a = midA.process(c);
        const double a2 = a * a, c2 = c * c, z2 = z * z;
        af = kf * af + a2;
        as = ks * as + a2;
        cf = kf * cf + c2;
        zf = kf * zf + z2;
        t.sumA += a2;
        t.sumC += c2;
        t.sumZ += z2;
        t.maxFastA = std::max(t.maxFastA, af);
        t.peakC = std::max(t.peakC, std::fabs(c));
    }
    state_.section = {lowC, highAC, midA};
    state_.fastA = af;
    state_.slowA = as;
    state_.fastC = cf;
    state_.fastZ = zf;
    return t;
}

void LevelEngine::flushTiny() {
    for (Biquad& q : state_.section) {
        q.flushTiny();
    }
    state_.fastA = flushed(state_.fastA);
    state_.slowA = flushed(state_.slowA);
    state_.fastC = flushed(state_.fastC);
    state_.fastZ = flushed(state_.fastZ);
}

}  // namespace fm::measure
