#pragma once
// Program-wide recording values. recordingActive crosses to the audio thread, so it is an
// atomic read and written whole with relaxed ordering; the others live on the main thread.
#include <atomic>
#include <cstdint>

namespace fm::recording {

// 1 while the audio callback appends every captured block to "output2.caf".
extern std::atomic<std::int32_t> recordingActive;
// Seconds counted since the engine start or the last recording start.
extern std::int32_t elapsedSeconds;
// Valid entries of the raw motion series, and the conversion's position in it.
extern std::int32_t rawSampleCount;
extern std::int32_t rawReadIndex;

}  // namespace fm::recording
