#pragma once
// Test signals written with libsndfile: 1 kHz sines and silences in a row, at any rate, depth and
// number of channels. Qt-free.
#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

namespace fm::test {

// `seconds` of a 1 kHz sine whose RMS is `dbfs` relative to a full-scale sine (peak 10^(dbfs/20)),
// or of silence when dbfs is below -300.
struct TonePiece {
    double seconds;
    double dbfs;
};

// Channel c (from 0) carries the signal times (-1)^c: two channels in opposite phase.
inline bool writeToneFile(const std::string& path, int rate, int format,
                          const std::vector<TonePiece>& pieces, int channels = 1) {
    std::vector<double> frames;
    double n = 0.0;
    for (const TonePiece& p : pieces) {
        const double peak = p.dbfs < -300.0 ? 0.0 : std::pow(10.0, p.dbfs / 20.0);
        for (long long i = std::llround(p.seconds * rate); i > 0; --i, n += 1.0) {
            const double x = peak * std::sin(2.0 * M_PI * 1000.0 * n / rate);
            for (int c = 0; c < channels; ++c) {
                frames.push_back(c % 2 == 0 ? x : -x);
            }
        }
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) {
        return false;
    }
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);  // a full-scale sine into integers
    const sf_count_t wanted = static_cast<sf_count_t>(frames.size() / channels);
    const bool written = sf_writef_double(f, frames.data(), wanted) == wanted;
    return sf_close(f) == 0 && written;
}

}  // namespace fm::test
