#pragma once
// Plays an audio file as captured input: any format libsndfile reads, at its real level, mixed
// down to mono and converted to 16-bit. The file is read as it plays, never whole into memory.
#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/BlockSource.h"

namespace fm::platform {

class FileBlockSource : public BlockSource {
  public:
    FileBlockSource(std::string path, bool loop);
    ~FileBlockSource() override;

    bool open(std::string* error) override;
    std::uint32_t fill(std::int16_t* out, std::uint32_t frames) override;

  private:
    std::string path_;
    bool loop_;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    std::vector<float> interleaved_;  // sized in open() for multi-channel files
};

}  // namespace fm::platform
