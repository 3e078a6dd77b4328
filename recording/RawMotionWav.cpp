#include "recording/RawMotionWav.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "platform/console/Console.h"
#include "platform/documents/DocumentsFolder.h"
#include "recording/RawMotion.h"

namespace fm::recording {

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

// The sample as it lies in the file's bytes.
std::uint16_t littleEndian(std::int16_t sample) {
    const auto v = static_cast<std::uint16_t>(sample);
    if constexpr (std::endian::native == std::endian::little) {
        return v;
    } else {
        return static_cast<std::uint16_t>(v << 8 | v >> 8);
    }
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

    // A run holds one value, so each run is scanned and converted once, not sample by sample.
    std::array<std::uint16_t, kExpansionBufferSize> pcm;
    double value = 0.0;
    std::int32_t count = 0;

    // Scale pass: the largest magnitude among the samples that will be written.
    double maximum = -10.0;
    double scale = 0.0;
    rewindRawSeries();
    while (rawReadIndex < n - 1) {
        nextRawRun(&value, &count);
        if (count == -1) {
            std::fprintf(fm::platform::console(), "Done!");
            break;
        }
        if (count > 0 && std::fabs(value) > maximum) {
            if (std::fabs(value) > 32000.0) {
                std::fprintf(fm::platform::console(), "What the!!! maxval is: %f",
                             std::fabs(value));
            }
            maximum = std::fabs(value);
        }
        scale = maximum > 0.0 ? 32767.0 / maximum : 0.0;
    }

    std::fprintf(fm::platform::console(), "starting second runthrough");
    rewindRawSeries();
    std::int64_t written = 0;
    while (rawReadIndex < n - 1) {
        nextRawRun(&value, &count);
        if (count == -1) {
            std::fprintf(fm::platform::console(), "Done!");
            break;
        }
        std::fill_n(pcm.begin(), count, littleEndian(toPcm(value, scale, maximum)));
        const auto bytes = static_cast<std::size_t>(count) * 2;
        if (std::fwrite(pcm.data(), 1, bytes, file) != bytes) {
            std::fflush(fm::platform::console());
            return failWith(error, std::strerror(errno));
        }
        written += count;
    }
    std::fflush(fm::platform::console());
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
    if (!fm::platform::ensureDocumentsFolderReporting()) {
        return;  // said already, when the folder became unusable
    }
    rawFilePath = fm::platform::documentsFolder() + "/rawAccel.out";
    // Never through a link: one placed here is replaced, its target left alone.
    const int fd = fm::platform::openOwnOutputFile(rawFilePath, &why);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        if (fd >= 0) {
            why = std::strerror(errno);
            ::close(fd);
        }
        std::fprintf(stderr, "Could not open %s: %s\n", rawFilePath.c_str(), why.c_str());
        return;
    }
    // Large blocks: a full series is some 44 MB of samples.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 18);
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

namespace {

// Joins a conversion that is still running when the program's statics go.
struct BackgroundConversion {
    std::thread thread;
    std::atomic<bool> running{false};
    ~BackgroundConversion() {
        if (thread.joinable()) {
            thread.join();
        }
    }
};

BackgroundConversion& background() {
    static BackgroundConversion conversion;
    return conversion;
}

}  // namespace

void writeRawAccelDataToFileInBackground() {
    finishRawAccelDataFile();
    BackgroundConversion& b = background();
    b.running.store(true, std::memory_order_release);
    b.thread = std::thread([&b] {
        writeRawAccelDataToFile();
        std::fflush(fm::platform::console());
        b.running.store(false, std::memory_order_release);
    });
}

void finishRawAccelDataFile() {
    BackgroundConversion& b = background();
    if (b.thread.joinable()) {
        b.thread.join();
    }
}

bool rawAccelDataFileBusy() {
    return background().running.load(std::memory_order_acquire);
}

}  // namespace fm::recording
