#include "recording/RawMotion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/console/Console.h"

namespace fm::recording {

double rawSamples[kRawSampleCapacity] = {};
double rawSampleTimes[kRawSampleCapacity] = {};
std::string rawFilePath;

namespace {

// A step longer than the buffer is delivered in parts: how much of which step is out.
std::int32_t partialIndex = -1;
std::int64_t partialDelivered = 0;

}  // namespace

bool writeIntBytes(std::uint32_t value, std::FILE* file, bool mostSignificantFirst, int width) {
    for (int b = 0; b < width; ++b) {
        const int shift = 8 * (mostSignificantFirst ? width - 1 - b : b);
        const unsigned char byte = static_cast<unsigned char>((value >> shift) & 0xFFu);
        if (std::fwrite(&byte, 1, 1, file) < 1) {
            return false;
        }
    }
    return true;
}

bool writeWavHeader(std::FILE* file, std::uint32_t dataBytes) {
    auto tag = [file](const char* text, std::size_t length) {
        return std::fwrite(text, 1, length, file) == length;
    };
    return tag("RIFF", 4) && writeIntBytes(dataBytes + 36, file, false, 4) && tag("WAVEfmt ", 8) &&
           writeIntBytes(16, file, false, 4) &&     // format chunk length
           writeIntBytes(1, file, false, 2) &&      // PCM
           writeIntBytes(1, file, false, 2) &&      // mono
           writeIntBytes(44100, file, false, 4) &&  // samples per second
           writeIntBytes(88200, file, false, 4) &&  // bytes per second
           writeIntBytes(2, file, false, 2) &&      // bytes per frame
           writeIntBytes(16, file, false, 2) &&     // bits per sample
           tag("data", 4) && writeIntBytes(dataBytes, file, false, 4);
}

std::int32_t rawSeriesLength() {
    return std::clamp<std::int32_t>(rawSampleCount, 0, kRawSampleCapacity);
}

std::int64_t rawStepSampleCount(std::int32_t i) {
    const double run = (rawSampleTimes[i + 1] - rawSampleTimes[i]) * kWavSamplesPerMs;
    // Truncated toward zero, so a step shorter than one output sample counts as 0, whatever
    // its sign. Out-of-range or NaN steps cannot be counted at all.
    if (!(run > -2147483649.0 && run < 2147483648.0)) {
        return -1;
    }
    const std::int64_t k = static_cast<std::int32_t>(run);
    return k < 0 ? -1 : k;
}

void nextRawRun(double* value, std::int32_t* count) {
    const std::int32_t i = rawReadIndex;
    if (i < 0 || i >= rawSeriesLength() - 1) {
        *count = -1;
        return;
    }
    const std::int64_t k = rawStepSampleCount(i);
    if (k < 0) {
        std::fprintf(fm::platform::console(), "Something went very, very wrong on that sample.");
        *count = 0;
        rawReadIndex = i + 1;
        return;
    }
    // Progress noted for another step, or for a series rewound since, does not apply here.
    const std::int64_t delivered =
        partialIndex == i && partialDelivered > 0 && partialDelivered < k ? partialDelivered : 0;
    const std::int32_t n =
        static_cast<std::int32_t>(std::min<std::int64_t>(k - delivered, kExpansionBufferSize));
    *value = std::isfinite(rawSamples[i]) ? rawSamples[i] : 0.0;
    *count = n;
    if (delivered + n < k) {
        partialIndex = i;
        partialDelivered = delivered + n;
    } else {
        partialIndex = -1;
        partialDelivered = 0;
        rawReadIndex = i + 1;
    }
}

void rewindRawSeries() {
    rawReadIndex = 0;
    partialIndex = -1;
    partialDelivered = 0;
}

void expandNextRawSample(double* buffer, std::int32_t* count) {
    double value = 0.0;
    nextRawRun(&value, count);
    if (*count > 0) {
        std::fill_n(buffer, *count, value);
    }
}

}  // namespace fm::recording
