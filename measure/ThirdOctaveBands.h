#pragma once
// Third-octave band levels, Z-weighted, from 20 Hz to 16 kHz: the 30 bands with base-10 exact
// mid-band frequencies 1000 × 10^(x/10) Hz, x = -17 ... 12, meant to meet class 1 of
// IEC 61260-1:2014 (relative attenuation and effective bandwidth). Qt-free.
//
// Multirate: the top octave (10, 12.5, 16 kHz) runs at the input rate and each lower octave at
// half the rate of the one above, fed through a half-band decimating low-pass. That keeps every
// band's mid-band frequency between 0.22 and 0.37 of its own rate, where the recursion is well
// conditioned, and costs about twice the top octave in all. Each band is an order-4 Butterworth
// band-pass (four biquads) by the bilinear transform with pre-warped edges: order 3 falls up to
// 7 dB short of the class 1 attenuation at 1/3 of the mid-band frequency for the upper bands of
// an octave (near 0.36 of their rate the transform widens the band on its warped axis).
//
// Per band it keeps the energy since construction (the sum of squared outputs, a decimated
// sample counting for as many input frames as it stands for), so that the Leq of any interval
// is (energy at its end - at its start) / (frames at its end - at its start), and the Fast
// (125 ms) exponentially time-weighted mean square. Full scale is 1.0: a full-scale sine at a
// band's exact mid-band frequency gives that band a mean square of 0.5.
//
// One thread owns the object; process() allocates nothing, locks nothing and makes no system
// call.
#include <array>
#include <cstdint>
#include <vector>

#include "measure/SecondRecord.h"

namespace fm::measure {

class ThirdOctaveBands {
  public:
    static constexpr int kBandsPerOctave = 3;
    static constexpr int kOctaves = kBandCount / kBandsPerOctave;
    // The rates the design is made for (class 1 checked at 44.1, 48 and 96 kHz): below about
    // 42 kHz the 8 kHz band's upper edge leaves the decimators' pass band.
    static constexpr double kMinSampleRate = 44100.0;
    static constexpr double kMaxSampleRate = 96000.0;

    // Designs every filter and allocates every buffer. Throws std::invalid_argument for a rate
    // outside [kMinSampleRate, kMaxSampleRate]. Where the processor has AVX-512 two octaves run
    // side by side in its registers, with the same results; allowWide = false keeps to four lanes.
    explicit ThirdOctaveBands(double sampleRate = 44100.0, bool allowWide = true);
    static bool wideAvailable();  // whether this processor runs two octaves side by side

    // Band 0 is 20 Hz, band 29 is 16 kHz. A band outside 0 ... 29 throws std::out_of_range.
    static double exactMidHz(int band);    // 1000 × 10^((band - 17) / 10)
    static double nominalMidHz(int band);  // 20, 25, 31.5, ... 16000
    static const char* label(int band);    // "20Hz", "31.5Hz", "1kHz", "1.25kHz", ... "16kHz"

    // Input floats, full scale 1.0. A sample that is not a finite number counts as silence: one
    // would otherwise stay in every filter's state for good.
    void process(const float* samples, std::uint32_t frames);
    void reset();  // silence in every filter, energies and frames 0

    std::uint64_t frames() const { return frames_; }  // input frames processed
    double energy(int band) const;                    // sum of squares, in input frames
    double fastMeanSquare(int band) const;            // the Fast time-weighted mean square now
    // Each band's energy since the last call (or the start), and a new interval begins: a
    // quiet second's energy stays exact after days of loud ones, which a difference of two
    // energy() readings would not.
    std::array<double, kBandCount> takeIntervalEnergy();

    // The designed steady-state gain, in dB, of a band for a sine of `hz` at the input (aliases
    // included): the decimators' gains times the band filter's. 0 dB at the band's exact mid-band
    // frequency.
    double responseDb(int band, double hz) const;

    double sampleRate() const { return sampleRate_; }

  private:
    static constexpr int kLanes = 4;     // an octave's three bands side by side, and a spare
    static constexpr int kSections = 4;  // biquads per band: the Butterworth order
    // The half-band decimator: 4 × 15 - 1 = 59 taps; every other one but the centre is zero.
    static constexpr int kHalfTaps = 15;
    static constexpr int kTaps = 4 * kHalfTaps - 1;
    static constexpr int kHistory = kTaps - 1;
    static constexpr std::uint32_t kChunk = 1024;  // input frames per pass through the octaves

    struct Octave {
        // One lane per band. Each section's numerator is 1 - z^-2 (a band-pass biquad's), all
        // four applied at once to the octave's samples; the sections themselves are all-pole,
        // y = x - a1 y1 - a2 y2, with h1[s] and h2[s] their last two outputs. The band's gain is
        // applied to what is read.
        alignas(32) double a1[kSections][kLanes] = {};
        alignas(32) double a2[kSections][kLanes] = {};
        alignas(32) double h1[kSections][kLanes] = {};
        alignas(32) double h2[kSections][kLanes] = {};
        alignas(32) double gain[kLanes] = {};
        alignas(32) double gainSquared[kLanes] = {};
        // The Fast recursion of the squares before the gain and the step: the Fast mean square
        // is fast × fastStep × gainSquared.
        alignas(32) double fast[kLanes] = {};
        double energy[kLanes] = {};
        double interval[kLanes] = {};              // energy since the last takeIntervalEnergy()
        alignas(32) double fastKeep[kLanes] = {};  // 1 - fastStep in every lane
        double fastStep = 0.0;                     // 1 - exp(-1 / (0.125 s × rate))
        double framesPerSample = 1.0;              // 2^octave
        double rate = 0.0;
        std::uint32_t phase = 0;  // the next decimator output falls on this sample of the chunk
    };

    static int checkedBand(int band);
    static int octaveOf(int band) { return (kBandCount - 1 - band) / kBandsPerOctave; }
    static int laneOf(int band) {
        return band - (kBandCount - kBandsPerOctave * (octaveOf(band) + 1));
    }
    double* signal(int octave) { return signal_.data() + octave * (kHistory + kChunk); }
    // Octave k has at most kChunk / 2^k + 1 samples in a chunk.
    static constexpr int bandInputOffset(int octave) {
        return octave == 0 ? 0 : bandInputOffset(octave - 1) + (kChunk >> (octave - 1)) + 1;
    }
    double* bandInput(int octave) { return bandInput_.data() + bandInputOffset(octave); }
    void applyNumerator(const double* x, std::uint32_t n, double* out);
    void filterOctave(Octave& o, const double* x, std::uint32_t n);
    void filterTwoOctaves(Octave& top, const double* x, Octave& low, const double* y,
                          std::uint32_t n);
    void filterOctaves(const std::array<std::uint32_t, kOctaves>& counts);
    std::uint32_t gatherParities(Octave& o, const double* x, std::uint32_t n);
    std::uint32_t decimate(Octave& o, const double* x, std::uint32_t n, double* out);
    std::uint32_t decimateWide(Octave& o, const double* x, std::uint32_t n, double* out);
    double decimatorGain(double cyclesPerSample) const;

    double sampleRate_;
    std::array<Octave, kOctaves> octaves_{};  // octave 0 holds 10, 12.5 and 16 kHz
    std::array<double, kHalfTaps> taps_{};    // the decimator's taps 1, 3, 5 ... from its centre
    double centreTap_ = 0.5;
    // Per octave, at its rate: the decimator's history, then the chunk's samples.
    std::vector<double> signal_;
    // Per octave, the chunk's samples through the bands' common numerator.
    std::vector<double> bandInput_;
    std::vector<double> evens_;  // the decimator's input samples of one parity
    std::vector<double> odds_;   // and of the other: the centre taps' samples
    std::uint64_t frames_ = 0;
    bool wide_ = false;
};

}  // namespace fm::measure
