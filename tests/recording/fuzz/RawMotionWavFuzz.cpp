// libFuzzer target: arbitrary motion series (values of any size, NaN and infinities, steps
// backwards, gaps longer than the expansion buffer, NaN times) must convert without a crash or
// sanitizer report, into a WAV whose header lengths match the file and the series.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "recording/RawMotion.h"
#include "recording/RawMotionWav.h"

namespace {

std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Four bytes per raw sample: a 16-bit value (two codes stand for NaN and infinity) scaled by a
// per-input exponent, a signed step in ms (-128: NaN time, 127: a 250 ms gap), a fraction.
void decode(const std::uint8_t* data, std::size_t size) {
    const int exponent = size > 0 ? data[0] % 16 - 8 : 0;
    const double scale = std::pow(10.0, exponent * 40);  // 1e-320 … 1e280
    ++data;
    size = size > 0 ? size - 1 : 0;
    const std::size_t n = std::min<std::size_t>(size / 4, fm::recording::kRawSampleCapacity);
    double time = 1.7e12;
    for (std::size_t i = 0; i < n; ++i, data += 4) {
        const auto raw = static_cast<std::int16_t>(data[0] | data[1] << 8);
        fm::recording::rawSamples[i] = raw == 32767    ? std::numeric_limits<double>::quiet_NaN()
                                       : raw == -32768 ? -std::numeric_limits<double>::infinity()
                                                       : raw * scale;
        const auto step = static_cast<std::int8_t>(data[2]);
        if (step == -128) {
            fm::recording::rawSampleTimes[i] = std::nan("");
            continue;
        }
        time += (step == 127 ? 250.0 : step) + data[3] / 256.0;
        fm::recording::rawSampleTimes[i] = time;
    }
    fm::recording::rawSampleCount = static_cast<std::int32_t>(n);
    fm::recording::rewindRawSeries();
}

std::int64_t expectedSamples() {
    std::int64_t total = 0;
    for (std::int32_t i = 0; i + 1 < fm::recording::rawSampleCount; ++i) {
        const double run =
            (fm::recording::rawSampleTimes[i + 1] - fm::recording::rawSampleTimes[i]) *
            fm::recording::kWavSamplesPerMs;
        if (run > -1.0 && run < 2147483648.0) {
            total += static_cast<std::int64_t>(run);
        }
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    decode(data, size);
    std::FILE* file = std::tmpfile();
    require(file != nullptr, "tmpfile");
    std::string error;
    require(fm::recording::writeRawSeriesWav(file, &error), error.c_str());
    struct stat st {};
    require(fstat(fileno(file), &st) == 0, "fstat");
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    require(fileSize >= 44, "header written");

    std::vector<unsigned char> bytes(fileSize);
    require(pread(fileno(file), bytes.data(), bytes.size(), 0) == st.st_size, "read back");
    std::fclose(file);
    require(std::memcmp(bytes.data(), "RIFF", 4) == 0, "RIFF tag");
    require(le32(&bytes[4]) == fileSize - 8, "RIFF length matches the file");
    require(le32(&bytes[40]) == fileSize - 44, "data length matches the file");
    require(fileSize - 44 == 2 * static_cast<std::uint64_t>(expectedSamples()),
            "every sample of every step written");
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2) {
        require(!(bytes[at] == 0x00 && bytes[at + 1] == 0x80), "never -32768");
    }
    return 0;
}
