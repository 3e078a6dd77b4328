#include "recording/RecordingState.h"

namespace fm::recording {

std::atomic<std::int32_t> recordingActive{0};
std::int32_t elapsedSeconds = 0;
std::int32_t rawSampleCount = 0;
std::int32_t rawReadIndex = 0;

}  // namespace fm::recording
