#pragma once
// The raw motion series as a sound: every raw sample held until the next one, resampled at
// 44,100 Hz, normalised so that the largest magnitude becomes 32767, written as 16-bit mono
// PCM after a 44-byte RIFF/WAVE header.
#include <cstdio>
#include <string>

namespace fm::recording {

// Converts the whole raw series (from its first sample; rawReadIndex is rewound) into an open
// file: header, then the samples. The header's lengths are the final ones. Progress messages
// go to standard output. Returns false with the reason in *error when a write fails or the
// series is too long for a WAV file; the caller owns the file and what remains of it.
bool writeRawSeriesWav(std::FILE* file, std::string* error);

// Writes the raw series to "rawAccel.out" in the documents folder and sets rawFilePath. A file
// that cannot be opened or written is reported on standard error with the system's reason, and
// a partly written file is removed; the program carries on either way.
void writeRawAccelDataToFile();

// The same conversion on a thread of its own, so that a long series never holds the screen.
// Main thread. The conversion reads the raw series (rawSamples, rawSampleTimes, rawSampleCount)
// and sets rawReadIndex and rawFilePath until it is done: until then the main thread must not
// touch them. Waits first for a conversion that still runs.
void writeRawAccelDataToFileInBackground();

// Main thread. Returns once no conversion runs: a conversion started by
// writeRawAccelDataToFileInBackground() has written (or failed to write and reported)
// "rawAccel.out". Call it before touching the raw series, and before the program ends, so that
// a recording stopped just before a quit still leaves its motion file complete. Returns at once
// when none runs.
void finishRawAccelDataFile();

// Main thread: true while a background conversion runs.
bool rawAccelDataFileBusy();

}  // namespace fm::recording
