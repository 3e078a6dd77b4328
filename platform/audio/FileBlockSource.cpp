#include "platform/audio/FileBlockSource.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include "platform/audio/AudioTypes.h"

namespace fm::platform {

FileBlockSource::FileBlockSource(std::string path, bool loop)
    : path_(std::move(path)), loop_(loop) {}

FileBlockSource::~FileBlockSource() {
    if (file_ != nullptr) {
        sf_close(file_);
    }
}

bool FileBlockSource::open(std::string* error) {
    // Opening a FIFO waits for a writer, and a device never ends: only files are played.
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (error != nullptr) {
            *error = path_ + ": not a regular file";
        }
        return false;
    }
    info_ = SF_INFO{};
    file_ = sf_open(path_.c_str(), SFM_READ, &info_);
    if (file_ == nullptr) {
        if (error != nullptr) {
            *error = path_ + ": " + sf_strerror(nullptr);
        }
        return false;
    }
    if (info_.channels < 1) {
        if (error != nullptr) {
            *error = path_ + ": the file has no audio channel";
        }
        return false;
    }
    if (info_.samplerate != 44100) {
        // Played at 44,100 frames per second regardless; say so rather than resample quietly.
        std::fprintf(stderr, "fieldmeter: %s: sample rate %d Hz is played as 44100 Hz\n",
                     path_.c_str(), info_.samplerate);
    }
    interleaved_.assign(
        static_cast<std::size_t>(kMaxFramesPerSlice) * static_cast<std::size_t>(info_.channels), 0);
    return true;
}

std::uint32_t FileBlockSource::fill(std::int16_t* out, std::uint32_t frames) {
    if (file_ == nullptr) {
        return 0;
    }
    if (frames > kMaxFramesPerSlice) {
        frames = kMaxFramesPerSlice;
    }
    const int channels = info_.channels;
    // Every format is read as libsndfile's floats, where full scale is 1.0 whatever the file
    // holds (16-bit integers come back exactly; floating-point files keep their real level).
    sf_count_t got = sf_readf_float(file_, interleaved_.data(), frames);
    if (got == 0 && loop_ && info_.frames > 0) {
        sf_seek(file_, 0, SEEK_SET);
        got = sf_readf_float(file_, interleaved_.data(), frames);
    }
    auto sample = [&](std::size_t at) -> std::int32_t {
        const float x = interleaved_[at] * 32768.0f;
        if (!(x > -32768.0f)) {
            return -32768;  // also NaN
        }
        return x >= 32767.0f ? 32767 : static_cast<std::int32_t>(std::lrint(x));
    };
    for (sf_count_t i = 0; i < got; ++i) {
        if (channels == 1) {
            out[i] = static_cast<std::int16_t>(sample(static_cast<std::size_t>(i)));
            continue;
        }
        std::int32_t sum = 0;
        for (int c = 0; c < channels; ++c) {
            sum += sample(static_cast<std::size_t>(i * channels + c));
        }
        out[i] = static_cast<std::int16_t>(sum / channels);
    }
    return static_cast<std::uint32_t>(got);
}

}  // namespace fm::platform
