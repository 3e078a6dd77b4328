#pragma once
// A mono WAV file of 32-bit float samples, written as it goes: exact for every sample the
// program measures, and read by every player and browser. It is made new under a name of its own
// in a folder ("NAME.wav", or "NAME (2).wav", ... when that is taken), never through a link and
// never over another file. Its header is brought up to date after every append, so a killed
// program leaves a readable file. One thread at a time; Qt-free.
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

namespace fm::platform {

class FloatWavFile {
  public:
    // Null on failure, with *error naming the file and the reason.
    static std::unique_ptr<FloatWavFile> create(const std::string& folder, const std::string& name,
                                                int sampleRate, std::string* error);
    // Closes the file.
    ~FloatWavFile();
    FloatWavFile(const FloatWavFile&) = delete;
    FloatWavFile& operator=(const FloatWavFile&) = delete;

    // False with *error when not every sample reached the file.
    bool append(const float* samples, std::size_t frames, std::string* error);
    // Closes and deletes the file (a clip that is not kept after all).
    void remove();

    // The file's size on disk now, header included.
    std::uint64_t bytes() const { return bytes_; }
    std::uint64_t frames() const { return frames_; }
    // The file's name in its folder, e.g. "2026-12-08 10-15-03 (2).wav".
    const std::string& fileName() const { return fileName_; }
    const std::string& path() const { return path_; }

  private:
    FloatWavFile(SNDFILE* file, int fd, std::string path, std::string fileName);
    void updateSize();

    SNDFILE* file_;
    int fd_;
    std::string path_;
    std::string fileName_;
    std::uint64_t bytes_ = 0;
    std::uint64_t frames_ = 0;
};

}  // namespace fm::platform
