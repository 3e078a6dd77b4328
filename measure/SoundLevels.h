#pragma once
// The sound level meter: A, C and Z frequency weighting, Fast and Slow exponential time
// weighting of the squared weighted signal, Leq, LAFmax and LCpeak. It runs on the audio thread
// inside the input callback (no allocation, no lock, no waiting) and publishes its values for
// the main thread, which reads a consistent set through read() or fm::measure::readSoundLevels().
//
// Weighting filters, designed at construction for the sample rate:
//   - the low-frequency part (the zeros at 0 Hz and the poles at 20.6, 107.7 and 737.9 Hz) by
//     the bilinear transform: at those frequencies its warping is negligible;
//   - the double pole at 12,194 Hz, shared by A and C, as one biquad whose poles are the
//     matched-z image of the analog poles and whose numerator is a weighted least-squares fit
//     of the exact magnitude from 20 Hz to 20 kHz. A plain bilinear transform would put a
//     double zero at the Nyquist frequency and fall short by more than 1 dB at 10 kHz.
//   A = C followed by the 107.7/737.9 Hz section; each chain is scaled to its exact value at
//   1 kHz.
#include <atomic>
#include <cstdint>

#include "measure/SoundLevelSnapshot.h"

namespace fm::measure {

// One second-order section, direct form I (the output's own recursion is one multiply and one
// subtraction long).
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;

    double process(double x) {
        const double rest = b0 * x + b1 * x1 + b2 * x2 - a2 * y2;
        const double y = rest - a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
    // Magnitude of the response at f Hz.
    double magnitudeAt(double f, double sampleRate) const;
    // Keeps the state out of the slow subnormal range once a signal has died away.
    void flushTiny();
};

enum class Weighting { A, C, Z };

// The exact IEC 61672-1 weighting in dB at f Hz (Z: 0).
double exactWeightingDb(Weighting w, double f);

class SoundLevelMeter {
  public:
    explicit SoundLevelMeter(double sampleRate = 44100.0);
    SoundLevelMeter(const SoundLevelMeter&) = delete;
    SoundLevelMeter& operator=(const SoundLevelMeter&) = delete;

    // Audio thread: one captured block of samples, full scale 1.0.
    void process(const float* samples, std::uint32_t frames);

    // Any thread: the latest published values, in dB with the calibration applied.
    SoundLevelSnapshot read() const;

    // Any thread: the offset added to every level (the dB SPL that 0 dBFS corresponds to);
    // calibrated false marks the levels as dBFS.
    void setCalibration(double offsetDb, bool calibrated);

    double sampleRate() const { return sampleRate_; }

  private:
    struct Published {
        std::atomic<double> msAF{0}, msAS{0}, msCF{0}, msZF{0};
        std::atomic<double> sumA{0}, sumC{0}, sumZ{0};
        std::atomic<std::uint64_t> frames{0};
        std::atomic<double> maxAF{0}, peakC{0};
        std::atomic<double> msA1s{0}, msC1s{0}, msZ1s{0}, maxAF1s{0}, peakC1s{0};
        std::atomic<std::uint64_t> wholeSeconds{0};
    };
    void processSpan(const float* samples, std::uint32_t frames);
    void closeSecond();
    void publish();

    double sampleRate_;
    std::uint64_t framesPerSecond_;
    double alphaFast_, alphaSlow_;
    double keepFast_, keepSlow_;  // 1 - alpha
    // Audio thread only.
    Biquad lowC_, highAC_, midA_;
    // The Fast and Slow mean squares divided by their alpha: one multiply and one add a sample.
    double uAF_ = 0, uAS_ = 0, uCF_ = 0, uZF_ = 0;
    double sumA_ = 0, sumC_ = 0, sumZ_ = 0;
    std::uint64_t frames_ = 0;
    double maxAF_ = 0, peakC_ = 0;  // maxAF in the divided scale too
    double secSumA_ = 0, secSumC_ = 0, secSumZ_ = 0, secMaxAF_ = 0, secPeakC_ = 0;
    std::uint64_t secFrames_ = 0;
    std::uint64_t wholeSeconds_ = 0;
    double lastMsA1s_ = 0, lastMsC1s_ = 0, lastMsZ1s_ = 0, lastMaxAF1s_ = 0, lastPeakC1s_ = 0;

    // Written whole by the audio thread between two odd/even steps of sequence_; a reader
    // retries while a write is under way, the writer never waits.
    std::atomic<std::uint64_t> sequence_{0};
    Published published_;
    std::atomic<double> offsetDb_{0.0};
    std::atomic<bool> calibrated_{false};
};

// The meter the input callback feeds, for the life of the process.
SoundLevelMeter& soundLevelMeter();

// Leq in dB over the frames between two snapshots of one meter, with the later one's
// calibration (or in dBFS without it); the floor when no frame or no energy lies between them.
double equivalentLevelDb(const SoundLevelSnapshot& from, const SoundLevelSnapshot& to,
                         Weighting weighting, bool withCalibration = true);

// A level for the screen and the console: "63.2 dB" or "-12.4 dBFS".
const char* levelUnit(bool calibrated);

}  // namespace fm::measure
