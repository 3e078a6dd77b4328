#pragma once
// Recordings written the way the audio engine writes them (libsndfile CAF, 16-bit mono).
#include <sndfile.h>

#include <string>
#include <vector>

namespace fm::test {

inline std::vector<short> rampSamples(int n) {
    std::vector<short> s(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        s[static_cast<std::size_t>(i)] = static_cast<short>((i * 37) % 65536 - 32768);
    }
    return s;
}

inline SNDFILE* openCafForWriting(const std::string& path) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_CAF | SF_FORMAT_PCM_16;
    return sf_open(path.c_str(), SFM_WRITE, &info);
}

inline void writeCaf(const std::string& path, const std::vector<short>& samples) {
    SNDFILE* f = openCafForWriting(path);
    sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

// The WAV that the mail carries for the recording at path, read to its end; false with *why
// when the recording cannot be opened or read.
bool recordingAsWav(const std::string& path, std::vector<unsigned char>* wav, std::string* why);

// The samples of a WAV held in memory, read back by libsndfile; empty when it is no 16-bit
// mono 44.1 kHz WAV.
std::vector<short> wavSamples(const std::vector<unsigned char>& wav);

}  // namespace fm::test
