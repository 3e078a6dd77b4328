#pragma once
// Samples between the two forms the engine uses: floats with full scale 1.0, which the level
// engine measures, and signed 16-bit integers, which the raw meters, the spectrum and the
// recording take. Qt-free; no allocation.
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace fm::platform {

// A sample at or beyond 32767/32768 in magnitude (where a 16-bit sample is at its limit), or one
// that is no finite number, is an overload.
constexpr float kOverloadLevel = 32767.0f / 32768.0f;
inline bool isOverloaded(float x) {
    return !(std::fabs(x) < kOverloadLevel);  // NaN fails the comparison
}
// How many of `frames` frames of interleaved samples have at least one of their `channels`
// samples overloaded. (Inline: the measurement, which links no audio back end, counts too.)
inline std::uint32_t countOverloadedFrames(const float* samples, std::uint32_t frames,
                                           std::size_t channels = 1) {
    std::uint32_t overloaded = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        bool any = false;
        for (std::size_t c = 0; c < channels; ++c) {
            any = any || isOverloaded(samples[i * channels + c]);
        }
        overloaded += any ? 1u : 0u;
    }
    return overloaded;
}

// s / 32768: exact, so a 16-bit sample comes back unchanged from sampleToInt16.
inline float sampleToFloat(std::int16_t s) {
    return static_cast<float>(s) * (1.0f / 32768.0f);
}

// x × 32768 rounded to the nearest integer (ties to even), clipped to -32768 … 32767; NaN gives
// -32768.
inline std::int16_t sampleToInt16(float x) {
    float v = x * 32768.0f;
    v = v > -32768.0f ? v : -32768.0f;  // NaN fails the comparison too
    v = v < 32767.0f ? v : 32767.0f;
    // Adding and taking away 1.5 × 2^23 rounds to the nearest integer with ties to even, as
    // lrint does in the default rounding mode, in a form the compiler vectorises.
    v = (v + 12582912.0f) - 12582912.0f;
    return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

void samplesToFloat(const std::int16_t* in, float* out, std::uint32_t frames);
void samplesToInt16(const float* in, std::int16_t* out, std::uint32_t frames);

}  // namespace fm::platform
