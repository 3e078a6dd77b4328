#pragma once
// The one block of lines a program says at its start: what is measured (the device or the file,
// its sample rate and channels), the calibration in use, and where every output goes (each file
// with its path, each server or peer with its address), with the limits. Qt-free.
#include <string>

#include "instrument/DeviceOptions.h"

namespace fm::instrument {

struct StartFacts {
    std::string input;        // "microphone", "file tone.wav", ...
    std::string inputFile;    // the audio file measured ("" for a microphone or the demo)
    std::string calibration;  // "0 dBFS = 100.0 dB for this run", "none: the levels are dBFS"
    std::string pageUrl;      // "" without --http
    std::string documents;    // the documents folder (events, clips, state)
    bool calibrated = false;  // the levels, and so the thresholds, are dB (else dBFS)
    bool screen = true;       // the phone screen shows the levels (not the monitor)
};

// The calibration in words: "0 dBFS = 114.0 dB, calibrated on 2026-12-01" or "none: ...".
std::string calibrationInWords(bool calibrated, double offsetDb, const std::string& date);

// The block, each line ending in a line feed, the first one naming the program.
std::string startBlock(const std::string& program, const fm::instrument::DeviceOptions& options,
                       const StartFacts& facts);

}  // namespace fm::instrument
