#pragma once
// Plays an audio file as captured input: any format libsndfile reads, at its real level, as
// floats with full scale 1.0 (nothing clipped: a float file beyond full scale stays beyond it),
// mixed down to mono (the mean of the channels) or one chosen channel, and resampled to 44,100 Hz
// with libsoxr when the file has another rate. The file is read as it plays, never whole into
// memory; reading and resampling happen on the delivery thread.
#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/BlockSource.h"

struct soxr;  // libsoxr's resampler

namespace fm::platform {

class FileBlockSource : public BlockSource {
  public:
    // channel: 0 plays the mix of all channels, N plays channel N (counted from 1) alone.
    FileBlockSource(std::string path, bool loop, int channel = 0);
    ~FileBlockSource() override;
    FileBlockSource(const FileBlockSource&) = delete;
    FileBlockSource& operator=(const FileBlockSource&) = delete;

    bool open(std::string* error) override;
    std::uint32_t fill(float* out, std::uint32_t frames) override;
    // Frames of the file read by the last fill() with the played channel (or any channel of a
    // mix) overloaded; a resampled file's are counted at the file's rate.
    std::optional<std::uint32_t> overloadInLastFill() const override { return overloaded_; }

  private:
    // Up to `frames` mono frames at the file's own rate; 0 at its end (a looped file starts
    // again instead).
    std::uint32_t readMono(float* out, std::uint32_t frames);
    std::uint32_t readResampled(float* out, std::uint32_t frames);

    std::string path_;
    bool loop_;
    int channel_;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    std::vector<float> interleaved_;  // sized in open() for multi-channel files
    std::uint32_t overloaded_ = 0;    // by the fill() under way

    // Only for a file at another rate than 44,100 Hz.
    soxr* resampler_ = nullptr;
    std::vector<float> pending_;  // mono frames at the file's rate not yet taken by soxr
    std::uint32_t pendingAt_ = 0;
    std::uint32_t pendingCount_ = 0;
    bool fileEnded_ = false;  // soxr was told; it is being drained
};

// How many channels the audio file at `path` has; 0 when it is not a regular file that
// libsndfile reads.
int audioFileChannels(const std::string& path);

}  // namespace fm::platform
