#include "audio/SignalState.h"

namespace fm::audio {

std::atomic<bool> showWaveform{true};
std::array<std::atomic<double>, kGraphPoints> waveformSamples{};
std::atomic<double> rmsValue{0.0};
std::atomic<float> sensitivityGain{0.0f};
std::atomic<float> baseLevel{0.0f};
std::atomic<bool> spectrumWanted{true};
std::atomic<bool> phoneScreen{true};
std::array<std::atomic<float>, kGraphPoints> spectrumPower{};
std::int32_t historyIndex = 0;
std::string recordFileURL;
std::string cleanRecordFileURL;
float highFreqValue = 0.0f;
float lowFreqValue = 0.0f;
float numPassValue = 0.0f;

}  // namespace fm::audio
