#pragma once
// The sound level meter: A, C and Z frequency weighting, Fast and Slow exponential time
// weighting of the squared weighted signal, Leq, LAFmax, LCpeak and the overload count. It runs
// on the measurement thread (no allocation, no lock, no waiting) and publishes its values for
// any other thread, which reads a consistent set through read() or
// fm::measure::readSoundLevels(). Every whole second it closes (counted in frames) is kept for
// the measurement to take with takeClosedSecond(), with LAF sampled every 100 ms.
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
// The work on every sample is the LevelEngine's; the meter cuts the input at the ends of ticks
// and seconds and keeps the totals.
#include <array>
#include <atomic>
#include <cstdint>

#include "measure/Biquad.h"
#include "measure/LevelEngine.h"
#include "measure/SecondRecord.h"
#include "measure/SoundLevelSnapshot.h"

namespace fm::measure {

enum class Weighting { A, C, Z };

// The exact IEC 61672-1 weighting in dB at f Hz (Z: 0).
double exactWeightingDb(Weighting w, double f);

class SoundLevelMeter {
  public:
    explicit SoundLevelMeter(double sampleRate = 44100.0);
    SoundLevelMeter(const SoundLevelMeter&) = delete;
    SoundLevelMeter& operator=(const SoundLevelMeter&) = delete;

    // The measuring thread: captured samples with full scale 1.0, as the input delivered them
    // (a float sample may lie beyond full scale and is measured at its level). hiddenOverload:
    // overloaded samples beyond those these show, which the input saw before they became these
    // (a channel before a mix, a sample that was no number).
    void process(const float* samples, std::uint32_t frames, std::uint32_t hiddenOverload = 0);

    // The values of a whole second, taken once after the process() call that closed it.
    struct ClosedSecond {
        double meanSquareA = 0, meanSquareC = 0, meanSquareZ = 0;
        double maxMeanSquareAF = 0, minMeanSquareAF = 0, peakC = 0;
        std::array<double, kTicksPerSecond> tickMeanSquareAF{};
        std::uint32_t overloadSamples = 0;
    };
    // True once for each second that process() closed; a block never closes more than one
    // (blocks are shorter than a second).
    bool takeClosedSecond(ClosedSecond* out);
    // Frames still to come before the second under way closes.
    std::uint64_t framesToSecondEnd() const { return framesPerSecond_ - secFrames_; }

    // The values of a whole 100 ms tick, taken once after the process() call that closed it
    // (feed no more than framesToTickEnd() frames at a time to see every tick).
    struct ClosedTick {
        double meanSquareAF = 0;     // LAF at the tick's end
        double maxMeanSquareAF = 0;  // the largest LAF within it
        double peakC = 0;            // the largest |C-weighted sample| within it
        double sumSquaresA = 0;      // the A-weighted energy within it
        std::uint32_t frames = 0;
        std::uint32_t overloadSamples = 0;  // the overloaded samples within it
    };
    bool takeClosedTick(ClosedTick* out);
    std::uint64_t framesToTickEnd() const;
    // Forgets the part of a second measured so far (the input stopped within it): the next
    // frame starts a new second.
    void discardPartialSecond();

    // Any thread: the latest published values, in dB with the calibration applied.
    SoundLevelSnapshot read() const;

    // Any thread: the offset added to every level (the dB SPL that 0 dBFS corresponds to);
    // calibrated false marks the levels as dBFS.
    void setCalibration(double offsetDb, bool calibrated);
    // Any thread: while suspended (the demo signal plays) the levels are dBFS whatever the
    // calibration; it applies again when the suspension ends.
    void suspendCalibration(bool suspended);
    // The calibration the levels carry now: the offset (0 when uncalibrated) and whether.
    double calibrationOffsetDb() const;
    bool calibrated() const;

    double sampleRate() const { return sampleRate_; }
    std::uint64_t framesPerSecond() const { return framesPerSecond_; }

  private:
    struct Published {
        std::atomic<double> msAF{0}, msAS{0}, msCF{0}, msZF{0};
        std::atomic<double> sumA{0}, sumC{0}, sumZ{0};
        std::atomic<std::uint64_t> frames{0};
        std::atomic<double> maxAF{0}, peakC{0};
        std::atomic<double> msA1s{0}, msC1s{0}, msZ1s{0}, maxAF1s{0}, peakC1s{0};
        std::atomic<std::uint64_t> wholeSeconds{0};
        std::atomic<std::uint64_t> overloadSamples{0}, overload1s{0};
    };
    void processSpan(const float* samples, std::uint32_t frames);
    void closeTick();
    void closeSecond();
    void publish();

    double sampleRate_;
    std::uint64_t framesPerSecond_;
    double alphaFast_, alphaSlow_;
    // Audio thread only. The Fast and Slow mean squares it keeps are divided by their alpha:
    // one multiply and one add a sample.
    LevelEngine engine_;
    double sumA_ = 0, sumC_ = 0, sumZ_ = 0;
    std::uint64_t frames_ = 0;
    double maxAF_ = 0, peakC_ = 0;  // maxAF in the divided scale too
    double secSumA_ = 0, secSumC_ = 0, secSumZ_ = 0, secMaxAF_ = 0, secPeakC_ = 0;
    std::uint64_t secFrames_ = 0;
    int ticksInSecond_ = 0;
    std::array<double, kTicksPerSecond> secTicks_{};  // LAF in the divided scale
    std::uint64_t secOverload_ = 0;
    std::uint64_t overload_ = 0;
    std::uint64_t wholeSeconds_ = 0;
    double lastMsA1s_ = 0, lastMsC1s_ = 0, lastMsZ1s_ = 0, lastMaxAF1s_ = 0, lastPeakC1s_ = 0;
    std::uint64_t lastOverload1s_ = 0;
    // The hidden overload a process() call was given, taken by its first span.
    std::uint32_t hiddenOverload_ = 0;
    ClosedSecond closed_;
    bool closedPending_ = false;
    double tickMaxAF_ = 0, tickPeakC_ = 0, tickSumA_ = 0;  // maxAF in the divided scale
    std::uint32_t tickOverload_ = 0;
    std::uint64_t tickStart_ = 0;  // the tick's first frame in the second
    ClosedTick closedTick_;
    bool closedTickPending_ = false;

    // Written whole by the audio thread between two odd/even steps of sequence_; a reader
    // retries while a write is under way, the writer never waits.
    std::atomic<std::uint64_t> sequence_{0};
    Published published_;
    std::atomic<double> offsetDb_{0.0};
    std::atomic<bool> calibrated_{false};
    std::atomic<bool> calibrationSuspended_{false};
};

// The level engine every meter runs at this sample rate: the A and C weighting sections and the
// Fast and Slow time weighting, from silence.
LevelEngine weightingEngine(double sampleRate);

// The meter the input callback feeds, for the life of the process.
SoundLevelMeter& soundLevelMeter();

// Leq in dB over the frames between two snapshots of one meter, with the later one's
// calibration (or in dBFS without it); the floor when no frame or no energy lies between them.
double equivalentLevelDb(const SoundLevelSnapshot& from, const SoundLevelSnapshot& to,
                         Weighting weighting, bool withCalibration = true);

// A level for the screen and the console: "63.2 dB" or "-12.4 dBFS".
const char* levelUnit(bool calibrated);

}  // namespace fm::measure
