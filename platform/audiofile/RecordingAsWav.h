#pragma once
// The recording turned into the WAV file a mail recipient or a browser can play: the same
// samples, sample rate and channels, 16-bit PCM in a RIFF/WAVE container. The WAV is produced piece
// by piece as it is read, so a long recording is never held in memory.
#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fm::platform {

class RecordingWav {
  public:
    // Opens the audio file at path (the CAF recording) as it is now: a recording still being
    // written is taken as far as it has reached the disk, and later writes are not added.
    // Returns nullptr with a reason in *why when the file is missing, not a regular file,
    // unreadable, of a length that cannot be told or too long for a WAV file, or holds no
    // samples.
    static std::unique_ptr<RecordingWav> open(const std::string& path, std::string* why);
    ~RecordingWav();
    RecordingWav(const RecordingWav&) = delete;
    RecordingWav& operator=(const RecordingWav&) = delete;

    // Bytes of the whole WAV file, header included.
    std::uint64_t size() const { return kHeaderBytes + dataBytes_; }
    std::int64_t frames() const { return frames_; }

    // The next bytes of the WAV into out; 0 at the end; -1 when the recording cannot be read
    // (error() says why, e.g. it was cut short after it was opened).
    std::int64_t read(char* out, std::size_t len);
    // Starts again from the first byte.
    bool rewind();
    bool atEnd() const { return position_ >= size(); }
    const std::string& error() const { return error_; }

    // Used by libsndfile's reader: the file as it was when opened, with a CAF data chunk
    // still being written widened to everything on disk.
    std::int64_t readSource(void* out, std::int64_t count, std::int64_t at) const;
    std::int64_t sourceLength() const { return static_cast<std::int64_t>(fileLength_); }

  private:
    static constexpr std::uint64_t kHeaderBytes = 44;
    RecordingWav() = default;
    bool fill();

    int fd_ = -1;
    std::string path_;
    std::uint64_t fileLength_ = 0;
    std::uint64_t patchAt_ = 0;    // where the CAF data chunk's size is, 0 for no patch
    unsigned char patch_[8] = {};  // the size that stands there while reading
    std::int64_t sourcePosition_ = 0;
    SNDFILE* file_ = nullptr;
    int channels_ = 1;
    int rate_ = 44100;
    std::int64_t frames_ = 0;
    std::uint64_t dataBytes_ = 0;
    unsigned char header_[kHeaderBytes] = {};
    std::uint64_t position_ = 0;  // in the WAV
    std::int64_t framesRead_ = 0;
    std::vector<unsigned char> chunk_;  // converted samples not yet handed out
    std::size_t chunkAt_ = 0;
    std::vector<short> samples_;
    std::string error_;

    friend struct RecordingWavIo;
};

}  // namespace fm::platform
