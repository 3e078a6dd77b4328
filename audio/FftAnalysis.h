#pragma once
// The 2048-point spectrum: captured samples gather into 2048-sample blocks; each complete block
// is converted to floats (s / 32768), transformed with the packed real FFT and reduced to the
// 320 band powers of spectrumPower. Runs on the audio thread inside the input callback.
#include <cstdint>

namespace fm::audio {

class AudioEngine;

// Two halves of a split-complex array.
struct DSPSplitComplex {
    float* realp;
    float* imagp;
};

// Adds one captured block to the block being gathered. When the block completes, the rest of
// the captured block is dropped (the next FFT block starts with the next captured block) and
// the complete block is analysed into spectrumPower.
void accumulateSpectrumSamples(AudioEngine& engine, const std::int16_t* samples,
                               std::uint32_t frames);

// Analyses the full samplesBuffer: conversion, FFT into CSPLIT, band powers. `floatBlock` is
// bufferMaxSamples floats aligned to PackedRealFft::kInputAlignment.
void analyseSpectrumBlock(AudioEngine& engine, float* floatBlock);

// count signed 16-bit samples to floats s / 32768, in the engine's stream format.
void convertBlockToFloat(AudioEngine* engine, const void* samples, float* floatBlock,
                         std::uint32_t count);

// Band powers from the packed transform y (y[2k] = realp[k], y[2k+1] = imagp[k]), in single
// precision: power[b] = 0.25 × Σ_{m=1..4} (y[4b+m−1]² + y[4b+m]²), the four pair sums added in
// order of m. The pairs overlap; they are not four separate bins. Needs realp[0 … 640].
void bandPowersFromPacked(const float* realp, const float* imagp, float* power, int bands);

}  // namespace fm::audio
