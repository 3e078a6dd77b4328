#pragma once
// One reading of the sound level meter for the main thread (log, metrics, screen). Levels are in
// dB: dB relative to full scale (0 dB = the RMS of a full-scale sine) plus the calibration
// offset. Silence reads the floor, never -inf or NaN.
#include <cstdint>

namespace fm::measure {

inline constexpr double kLevelFloorDb = -120.0;

struct SoundLevelSnapshot {
    double LAF = kLevelFloorDb;  // current, Fast time weighting
    double LAS = kLevelFloorDb;  // current, Slow
    double LCF = kLevelFloorDb;
    double LZF = kLevelFloorDb;
    double LAeq = kLevelFloorDb;  // since the meter started
    double LCeq = kLevelFloorDb;
    double LAeq1s = kLevelFloorDb;  // over the last whole second
    double LCeq1s = kLevelFloorDb;
    double LZeq1s = kLevelFloorDb;
    double LAFmax = kLevelFloorDb;  // since the meter started
    double LCpeak = kLevelFloorDb;
    double LAFmax1s = kLevelFloorDb;  // over the last whole second
    double LCpeak1s = kLevelFloorDb;
    double calibrationOffsetDb = 0.0;  // added to every level above
    bool calibrated = false;           // false: the levels are dBFS
    std::uint64_t framesCaptured = 0;  // frames the meter has analysed since it started
    // Sums of the squared weighted samples (full scale 1.0) since the meter started: a Leq over
    // any interval comes from two snapshots (equivalentLevelDb in measure/SoundLevels.h).
    double sumSquaresA = 0.0;
    double sumSquaresC = 0.0;
    double sumSquaresZ = 0.0;
    // Whole seconds the meter has closed: the ...1s values belong to the latest of them, so a
    // reader taking one value a second can tell a new second from one it has already seen.
    std::uint64_t wholeSeconds = 0;
    // Samples at or beyond full scale since the meter started, and in the last whole second.
    std::uint64_t overloadSamples = 0;
    std::uint64_t overloadSamples1s = 0;
};

// The latest values published by the audio thread; safe to call from any thread.
SoundLevelSnapshot readSoundLevels();

}  // namespace fm::measure
