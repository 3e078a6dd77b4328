#include "recording/RawMotionWav.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/documents/DocumentsFolder.h"
#include "recording/RawMotion.h"

namespace {

// Every output sample the series expands to; the last raw sample has no successor and
// contributes nothing.
std::int64_t totalOutputSamples(std::int32_t n) {
    std::int64_t total = 0;
    for (std::int32_t i = 0; i + 1 < n; ++i) {
        total += std::max<std::int64_t>(rawStepSampleCount(i), 0);
    }
    return total;
}

// The 16-bit value of x once the largest magnitude is mapped to 32767; exact halves round up.
std::int16_t toPcm(double x, double scale, double maximum) {
    if (maximum <= 0.0) {
        return 0;  // a silent series stays silent instead of 0 * infinity
    }
    // A subnormal maximum overflows 32767 / maximum; dividing first keeps the result finite.
    const double scaled = std::isfinite(scale) ? scale * x : x / maximum * 32767.0;
    return static_cast<std::int16_t>(std::clamp(std::floor(scaled + 0.5), -32767.0, 32767.0));
}

bool failWith(std::string* error, const std::string& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

}  // namespace

bool writeRawSeriesWav(std::FILE* file, std::string* error) {
    const std::int32_t n = rawSeriesLength();
    const std::int64_t total = totalOutputSamples(n);
    constexpr std::int64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 36;
    if (total * 2 > kMaxDataBytes) {
        return failWith(error, "the motion series lasts too long for a WAV file");
    }
    if (!writeWavHeader(file, static_cast<std::uint32_t>(total * 2))) {
        return failWith(error, std::strerror(errno));
    }

    std::array<double, kExpansionBufferSize> expansion;
    std::array<unsigned char, 2 * kExpansionBufferSize> pcm;
    std::int32_t count = 0;

    // Scale pass: the largest magnitude among the samples that will be written.
    double maximum = -10.0;
    double scale = 0.0;
    rawReadIndex = 0;
    while (rawReadIndex < n - 1) {
        expandNextRawSample(expansion.data(), &count);
        if (count == -1) {
            std::printf("Done!");
            break;
        }
        for (std::int32_t s = 0; s < count; ++s) {
            const double magnitude = std::fabs(expansion[s]);
            if (magnitude > maximum) {
                if (magnitude > 32000.0) {
                    std::printf("What the!!! maxval is: %f", magnitude);
                }
                maximum = magnitude;
            }
        }
        scale = maximum > 0.0 ? 32767.0 / maximum : 0.0;
    }

    std::printf("starting second runthrough");
    rawReadIndex = 0;
    std::int64_t written = 0;
    while (rawReadIndex < n - 1) {
        expandNextRawSample(expansion.data(), &count);
        if (count == -1) {
            std::printf("Done!");
            break;
        }
        for (std::int32_t s = 0; s < count; ++s) {
            const auto v = static_cast<std::uint16_t>(toPcm(expansion[s], scale, maximum));
            pcm[2 * s] = static_cast<unsigned char>(v & 0xFFu);
            pcm[2 * s + 1] = static_cast<unsigned char>(v >> 8);
        }
        const auto bytes = static_cast<std::size_t>(count) * 2;
        if (std::fwrite(pcm.data(), 1, bytes, file) != bytes) {
            std::fflush(stdout);
            return failWith(error, std::strerror(errno));
        }
        written += count;
    }
    std::fflush(stdout);
    if (std::fflush(file) != 0) {
        return failWith(error, std::strerror(errno));
    }
    if (written != total) {
        return failWith(error, "the series changed while it was written");
    }
    return true;
}

void writeRawAccelDataToFile() {
    std::string why;
    if (!fm::platform::ensureDocumentsFolder(&why)) {
        std::fprintf(stderr, "Could not use the documents folder %s\n", why.c_str());
        return;
    }
    rawFilePath = fm::platform::documentsFolder() + "/rawAccel.out";
    std::FILE* file = std::fopen(rawFilePath.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "Could not open %s: %s\n", rawFilePath.c_str(), std::strerror(errno));
        return;
    }
    bool ok = writeRawSeriesWav(file, &why);
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok) {
        return;
    }
    std::fprintf(stderr, "Could not write to output.: %s (%s)\n", why.c_str(), rawFilePath.c_str());
    // Remove what was written, but never what a link points at (a device, say).
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(rawFilePath, ec))) {
        std::filesystem::remove(rawFilePath, ec);
    }
}
