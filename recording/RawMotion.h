#pragma once
// The raw motion series and its expansion into 44,100 Hz sample runs (sample and hold).
//
// rawSamples/rawSampleTimes hold rawSampleCount entries (declared in RecordingState.h) of a
// motion value and its time in milliseconds, in time order. The conversion walks the series
// with rawReadIndex. Everything here runs on the main thread.
#include <cstdint>
#include <cstdio>
#include <string>

#include "recording/RecordingState.h"

namespace fm::recording {

// Capacity of the raw series (500 s of motion at 100 Hz).
inline constexpr std::int32_t kRawSampleCapacity = 50000;
// Output samples one expansion delivers at most; a longer step takes several expansions.
inline constexpr std::int32_t kExpansionBufferSize = 5000;
// Output samples per millisecond of motion.
inline constexpr double kWavSamplesPerMs = 44.1;

// Motion values on any scale; the conversion normalises them.
extern double rawSamples[kRawSampleCapacity];
// Their times in milliseconds, non-decreasing in a well-formed series.
extern double rawSampleTimes[kRawSampleCapacity];
// The file most recently written by writeRawAccelDataToFile or processAndWriteToFile.
extern std::string rawFilePath;

// Writes the low `width` bytes of value one byte at a time, least significant first unless
// mostSignificantFirst. Returns false (errno set by stdio) when a byte cannot be written.
bool writeIntBytes(std::uint32_t value, std::FILE* file, bool mostSignificantFirst, int width);

// Writes the 44-byte RIFF/WAVE header of 16-bit mono PCM at 44,100 Hz with dataBytes of
// sample data following. Returns false when a write fails.
bool writeWavHeader(std::FILE* file, std::uint32_t dataBytes);

// Fills buffer (kExpansionBufferSize doubles) with the next run of the raw sample at
// rawReadIndex, held until the next sample's time. *count is the number of samples put in
// the buffer, or -1 when no raw sample is left (the last one has no successor to end it).
// rawReadIndex advances once the whole step has been delivered, so a step longer than the
// buffer comes out in several calls. A negative (or unmeasurable) step is reported on
// standard output and yields 0 samples. Non-finite values are held as 0.0.
void expandNextRawSample(double* buffer, std::int32_t* count);

// Starts the expansion again from the first raw sample: rawReadIndex = 0, and nothing of a
// step left half delivered (by a conversion that failed, say) carries over.
void rewindRawSeries();

// The same stepping as expandNextRawSample without filling a buffer: the next run is *count
// samples (-1: none left) all equal to *value.
void nextRawRun(double* value, std::int32_t* count);

// rawSampleCount limited to the series' capacity.
std::int32_t rawSeriesLength();

// Output samples of the step from raw sample i to i + 1, or -1 when the step is negative,
// not a number, or too long to count in 32 bits.
std::int64_t rawStepSampleCount(std::int32_t i);

}  // namespace fm::recording
