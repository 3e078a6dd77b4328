#pragma once
// The raw motion series as a sound: every raw sample held until the next one, resampled at
// 44,100 Hz, normalised so that the largest magnitude becomes 32767, written as 16-bit mono
// PCM after a 44-byte RIFF/WAVE header.
#include <cstdio>
#include <string>

// Converts the whole raw series (from its first sample; rawReadIndex is rewound) into an open
// file: header, then the samples. The header's lengths are the final ones. Progress messages
// go to standard output. Returns false with the reason in *error when a write fails or the
// series is too long for a WAV file; the caller owns the file and what remains of it.
bool writeRawSeriesWav(std::FILE* file, std::string* error);

// Writes the raw series to "rawAccel.out" in the documents folder and sets rawFilePath. A file
// that cannot be opened or written is reported on standard error with the system's reason, and
// a partly written file is removed; the program carries on either way.
void writeRawAccelDataToFile();
