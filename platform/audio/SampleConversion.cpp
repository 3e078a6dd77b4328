#include "platform/audio/SampleConversion.h"

namespace fm::platform {

void samplesToFloat(const std::int16_t* in, float* out, std::uint32_t frames) {
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[i] = sampleToFloat(in[i]);
    }
}

void samplesToInt16(const float* in, std::int16_t* out, std::uint32_t frames) {
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[i] = sampleToInt16(in[i]);
    }
}

}  // namespace fm::platform
