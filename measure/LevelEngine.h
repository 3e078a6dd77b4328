#pragma once
// The sound level meter's work on every sample, over a run of samples: the A and C weighting
// sections, the Fast and Slow exponential time weighting of the squared weighted signal, the
// energy sums, the largest Fast-A value, the C peak and the overload count, in double
// precision. Qt-free; it never allocates, locks or waits.
//
// Every one of these is a recursion, and done sample by sample each waits on its own previous
// value. Here they advance four samples at a time: each section's four outputs are a fixed
// linear combination of its state and the four inputs (the block form, with the coefficients
// worked out once from the section itself), and Fast A likewise, so that the four outputs fill
// the lanes of the vector unit and one block's work overlaps the next one's. Slow A, Fast C
// and Fast Z are only needed at the end of a run: each lane keeps every fourth sample's share
// and the lanes are combined once. The last frames of a run that do not fill a block go sample
// by sample. Where the processor has AVX2 and FMA a build for them is chosen at run time;
// elsewhere the engine goes sample by sample. The same block code also builds for the vector
// unit the compiler targets (SSE2 on any x86-64), for any compiler with the vector types of GCC
// and Clang.
#include <array>
#include <cstdint>

#include "measure/Biquad.h"

namespace fm::measure {

// What one run of samples adds to the meter's totals.
struct SpanTotals {
    double sumA = 0, sumC = 0, sumZ = 0;  // sums of the squared weighted samples
    double maxFastA = 0;                  // the largest Fast-A value, divided by its alpha
    double peakC = 0;                     // the largest |C-weighted sample|
    std::uint32_t overloaded = 0;         // samples at or beyond 32767/32768 in magnitude
};

class LevelEngine {
  public:
    // The C chain is lowC then highAC, the A chain C then midA; keepFast and keepSlow are
    // 1 - alpha of the Fast and Slow time weighting.
    LevelEngine(const Biquad& lowC, const Biquad& highAC, const Biquad& midA, double keepFast,
                double keepSlow);

    SpanTotals run(const float* samples, std::uint32_t frames);

    // The Fast and Slow mean squares divided by their alpha.
    double fastA() const { return state_.fastA; }
    double slowA() const { return state_.slowA; }
    double fastC() const { return state_.fastC; }
    double fastZ() const { return state_.fastZ; }

    // Keeps the state out of the slow subnormal range once a signal has died away.
    void flushTiny();

    // How run() does its work: four samples at a time (with the compiler's own instructions, or
    // with AVX2 and FMA), or one sample at a time (the plain recursions, which the blocks must
    // agree with).
    enum class Build { Portable, Avx2Fma, PerSample };
    static bool available(Build build);
    // The build run() uses: AVX2 and FMA where the processor has them, otherwise sample by
    // sample (measured as fast as the portable blocks or faster), unless use() chose another.
    Build build() const { return build_; }
    void use(Build build);

    static constexpr int kBlock = 4;
    // The outputs of one block as linear combinations of its inputs: column j holds what input
    // j contributes to each of the block's samples.
    struct SectionBlock {
        // The section's inputs two and one samples before the block, then the block's own.
        alignas(32) std::array<std::array<double, kBlock>, 2 + kBlock> input;
        // Its outputs two and one samples before the block.
        alignas(32) std::array<double, kBlock> output2, output1;
    };
    struct Blocks {
        std::array<SectionBlock, 3> section;  // lowC, highAC, midA
        // Fast A: what each squared sample of the block and the value before it contribute.
        alignas(32) std::array<std::array<double, kBlock>, kBlock> fastInput;
        alignas(32) std::array<double, kBlock> fastBefore;
        double keepFast4 = 0, keepSlow4 = 0, keepFast = 0, keepSlow = 0;
    };

    // The running values: each section with its state, and the time weightings.
    struct State {
        std::array<Biquad, 3> section;  // lowC, highAC, midA
        double fastA = 0, slowA = 0, fastC = 0, fastZ = 0;
    };

  private:
    SpanTotals runPerSample(const float* samples, std::uint32_t frames);

    State state_;
    Blocks blocks_{};
    Build build_;
};

}  // namespace fm::measure
