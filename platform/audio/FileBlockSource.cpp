#include "platform/audio/FileBlockSource.h"

#include <soxr.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/audio/AudioTypes.h"
#include "platform/audio/SampleConversion.h"
#include "platform/console/Console.h"

namespace fm::platform {
namespace {

constexpr double kPlayRate = captureFormat().mSampleRate;

// The file's rate is said once per file and process, not at every engine start.
void sayResamplingOnce(const std::string& path, int rate) {
    static std::mutex mutex;
    static std::set<std::string> said;
    const std::lock_guard lock(mutex);
    if (said.insert(path + '\n' + std::to_string(rate)).second) {
        std::fprintf(stderr, "%s: %s: resampling %d Hz to %.0f Hz\n", fm::platform::programName(),
                     path.c_str(), rate, kPlayRate);
    }
}

}  // namespace

FileBlockSource::FileBlockSource(std::string path, bool loop, int channel)
    : path_(std::move(path)), loop_(loop), channel_(channel) {}

FileBlockSource::~FileBlockSource() {
    if (resampler_ != nullptr) {
        soxr_delete(resampler_);
    }
    if (file_ != nullptr) {
        sf_close(file_);
    }
}

bool FileBlockSource::open(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = path_ + ": " + why;
        }
        return false;
    };
    // Opening a FIFO waits for a writer, and a device never ends: only files are played.
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return fail("not a regular file");
    }
    info_ = SF_INFO{};
    file_ = sf_open(path_.c_str(), SFM_READ, &info_);
    if (file_ == nullptr) {
        return fail(sf_strerror(nullptr));
    }
    if (info_.channels < 1) {
        return fail("the file has no audio channel");
    }
    if (channel_ < 0 || channel_ > info_.channels) {
        return fail("the file has " + std::to_string(info_.channels) + " channel" +
                    (info_.channels == 1 ? "" : "s") + ", no channel " + std::to_string(channel_));
    }
    if (info_.samplerate <= 0) {
        return fail("the file gives no sample rate");
    }
    interleaved_.assign(
        static_cast<std::size_t>(kMaxFramesPerSlice) * static_cast<std::size_t>(info_.channels), 0);
    if (info_.samplerate != static_cast<int>(kPlayRate)) {
        // High quality (20-bit precision, linear phase), one thread: the level of anything in
        // the audio band comes through unchanged, and the time constants see the right rate.
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t soxrError = nullptr;
        resampler_ =
            soxr_create(info_.samplerate, kPlayRate, 1, &soxrError, &io, &quality, &runtime);
        if (resampler_ == nullptr || soxrError != nullptr) {
            return fail(std::string("cannot resample ") + std::to_string(info_.samplerate) +
                        " Hz: " + soxr_strerror(soxrError));
        }
        pending_.assign(kMaxFramesPerSlice, 0.0f);
        sayResamplingOnce(path_, info_.samplerate);
    }
    return true;
}

std::uint32_t FileBlockSource::readMono(float* out, std::uint32_t frames) {
    if (frames > kMaxFramesPerSlice) {
        frames = kMaxFramesPerSlice;
    }
    const int channels = info_.channels;
    // Every format is read as libsndfile's floats, where full scale is 1.0 whatever the file
    // holds (integers come back exactly; floating-point files keep their real level).
    sf_count_t got = sf_readf_float(file_, interleaved_.data(), frames);
    if (got == 0 && loop_ && info_.frames > 0) {
        sf_seek(file_, 0, SEEK_SET);
        got = sf_readf_float(file_, interleaved_.data(), frames);
    }
    const auto count = static_cast<std::uint32_t>(got > 0 ? got : 0);
    const float* in = interleaved_.data();
    // Overload is seen here, before a mix could hide one channel's in the others' or a
    // resampler spread a sample that is no number over its neighbours.
    if (channels == 1 || channel_ > 0) {
        const std::size_t first = channel_ > 0 ? static_cast<std::size_t>(channel_ - 1) : 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            out[i] = in[static_cast<std::size_t>(i) * channels + first];
        }
        overloaded_ += countOverloadedFrames(out, count);
        return count;
    }
    overloaded_ += countOverloadedFrames(in, count, static_cast<std::size_t>(channels));
    const float share = 1.0f / static_cast<float>(channels);
    for (std::uint32_t i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) {
            sum += in[static_cast<std::size_t>(i) * channels + static_cast<std::size_t>(c)];
        }
        out[i] = sum * share;
    }
    return count;
}

std::uint32_t FileBlockSource::readResampled(float* out, std::uint32_t frames) {
    std::uint32_t produced = 0;
    while (produced < frames) {
        if (pendingAt_ == pendingCount_ && !fileEnded_) {
            pendingAt_ = 0;
            pendingCount_ = readMono(pending_.data(), static_cast<std::uint32_t>(pending_.size()));
            fileEnded_ = pendingCount_ == 0;
            // The filter would spread a sample that is no finite number over some 1,500 of its
            // outputs: it goes in as silence instead.
            for (std::uint32_t i = 0; i < pendingCount_; ++i) {
                pending_[i] = std::isfinite(pending_[i]) ? pending_[i] : 0.0f;
            }
        }
        std::size_t taken = 0;
        std::size_t made = 0;
        // At the end of the file a null input tells soxr to hand out what it still holds, so
        // that the whole duration arrives.
        const soxr_error_t e = fileEnded_ ? soxr_process(resampler_, nullptr, 0, nullptr,
                                                         out + produced, frames - produced, &made)
                                          : soxr_process(resampler_, pending_.data() + pendingAt_,
                                                         pendingCount_ - pendingAt_, &taken,
                                                         out + produced, frames - produced, &made);
        if (e != nullptr) {
            std::fprintf(stderr, "%s: %s: resampling failed (%s); the input ends here\n",
                         fm::platform::programName(), path_.c_str(), e);
            fileEnded_ = true;
            pendingAt_ = pendingCount_ = 0;
            soxr_clear(resampler_);
            return produced;
        }
        pendingAt_ += static_cast<std::uint32_t>(taken);
        produced += static_cast<std::uint32_t>(made);
        if (fileEnded_ && made == 0) {
            break;  // drained
        }
    }
    return produced;
}

std::uint32_t FileBlockSource::fill(float* out, std::uint32_t frames) {
    if (file_ == nullptr) {
        return 0;
    }
    if (frames > kMaxFramesPerSlice) {
        frames = kMaxFramesPerSlice;
    }
    overloaded_ = 0;
    return resampler_ != nullptr ? readResampled(out, frames) : readMono(out, frames);
}

int audioFileChannels(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;  // opening a FIFO would wait for a writer
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return 0;
    }
    sf_close(file);
    return info.channels;
}

}  // namespace fm::platform
