#pragma once
// The program-wide values through which the audio thread and the main thread meet. Values that
// cross threads are std::atomic elements, each stored and loaded whole with relaxed ordering:
// nothing waits, and a displayed frame may mix two consecutive blocks.
//
//   value                  writer            reader
//   waveformSamples,       audio thread      main thread (meter update)
//   rmsValue, spectrumPower
//   sensitivityGain,       main thread       audio thread
//   baseLevel
//   the rest               main thread       main thread
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace fm::audio {

// Width in samples of every graph: snapshot length, band count, history length.
inline constexpr int kGraphPoints = 320;

// The top graph shows the waveform (true) or the spectrum (false). Starts true.
extern std::atomic<bool> showWaveform;
// Snapshot of the latest captured block: 320 raw 16-bit sample values held as doubles.
extern std::array<std::atomic<double>, kGraphPoints> waveformSamples;
// Level of the latest block: RMS × sensitivityGain − baseLevel, never below 0 (raw units).
extern std::atomic<double> rmsValue;
// Factor on the RMS (the square of the sensitivity slider); starts 0.0.
extern std::atomic<float> sensitivityGain;
// Subtracted after the gain (base slider, 0 … 100); starts 0.0.
extern std::atomic<float> baseLevel;
// Band powers of the latest complete 2048-sample block.
extern std::array<std::atomic<float>, kGraphPoints> spectrumPower;
// Whether the phone screen is shown (written by the main thread before capture starts): the
// callback keeps the waveform snapshot and the raw level only for it. Starts true.
extern std::atomic<bool> phoneScreen;
// Whether the callback analyses the spectrum (written by the main thread). Starts true; the
// program without a screen analyses it only while someone follows the page.
extern std::atomic<bool> spectrumWanted;
// Meter updates that wrote the history graph; the column is historyIndex mod 320.
extern std::int32_t historyIndex;
// Paths of "output.wav" and "output2.caf" in the documents folder, set at each engine start.
extern std::string recordFileURL;
extern std::string cleanRecordFileURL;
// Last values of the high-frequency, low-frequency and pass-count sliders.
extern float highFreqValue;
extern float lowFreqValue;
extern float numPassValue;

}  // namespace fm::audio
