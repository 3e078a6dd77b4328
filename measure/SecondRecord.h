#pragma once
// One second of the measurement, as the writers (log, summary, metrics, page) receive it: every
// second the level engine closes (counted in frames) becomes one record, and so does every wall
// second without input. Values are linear and uncalibrated; the calibration in effect when the
// second closed travels with them and is applied where a level is written. Qt-free.
#include <array>
#include <chrono>
#include <cstdint>

namespace fm::measure {

// Third-octave bands from 20 Hz to 16 kHz (nominal mid-band frequencies 20, 25, 31.5 ... 12,500,
// 16,000 Hz): 30 bands.
inline constexpr int kBandCount = 30;
// LAF is sampled every 100 ms for the statistics.
inline constexpr int kTicksPerSecond = 10;

// Where the second's sound came from, or why there was none. The log writes these names.
enum class InputKind : std::uint8_t {
    Mic,    // "mic": measured from a microphone
    File,   // "file": measured from an audio file
    Demo,   // "demo": the generated demo signal: levels, but never a measurement of sound
    Ended,  // "ended": the file played to its end
    Lost,   // "lost": the microphone was lost
    None,   // "none": no input could be started
};

constexpr const char* inputKindName(InputKind kind) {
    switch (kind) {
        case InputKind::Mic:
            return "mic";
        case InputKind::File:
            return "file";
        case InputKind::Demo:
            return "demo";
        case InputKind::Ended:
            return "ended";
        case InputKind::Lost:
            return "lost";
        case InputKind::None:
            return "none";
    }
    return "none";
}

// Whether a second of this kind holds levels.
constexpr bool hasLevels(InputKind kind) {
    return kind == InputKind::Mic || kind == InputKind::File || kind == InputKind::Demo;
}

struct SecondRecord {
    // Seconds closed since the program started, counting every record from 1.
    std::uint64_t index = 0;
    // When the second's last frame was measured (or, without input, the wall second's end).
    std::chrono::system_clock::time_point closedAt{};
    InputKind input = InputKind::None;

    // Only when hasLevels(input). Mean squares of the weighted signal with full scale 1.0 (a
    // full-scale sine: 0.5, which reads 0 dB).
    double meanSquareA = 0.0;      // LAeq,1s
    double meanSquareC = 0.0;      // LCeq,1s
    double meanSquareZ = 0.0;      // LZeq,1s
    double maxMeanSquareAF = 0.0;  // LAFmax,1s: the largest Fast A mean square in the second
    double minMeanSquareAF = 0.0;  // LAFmin,1s
    double peakC = 0.0;            // LCpeak,1s: the largest |C-weighted sample|
    // LAF's mean square at the end of each 100 ms of the second, in order.
    std::array<double, kTicksPerSecond> tickMeanSquareAF{};
    // Band Z mean squares over the second, 20 Hz first.
    std::array<double, kBandCount> bandMeanSquare{};
    // Samples at or beyond full scale in the second.
    std::uint32_t overloadSamples = 0;
    // Input frames lost within the second (the measurement's queue was full, or the interface
    // dropped them), and the same in seconds. The second holds a whole second of measured
    // frames; the lost ones lengthen its span, closedAt being the time of its audio.
    std::uint64_t lostFrames = 0;
    double lostSeconds = 0.0;
    // The wall clock stepped within the second by this many seconds (signed; 0: it did not).
    double clockStepSeconds = 0.0;

    // The calibration in effect: the dB that 0 dBFS reads; calibrated false means dBFS (offset
    // 0). The demo signal is never calibrated.
    double calibrationOffsetDb = 0.0;
    bool calibrated = false;
};

}  // namespace fm::measure
