#pragma once
// A real-to-complex FFT of 2^logN points through FFTW, repacked into the packed split-complex
// layout: realp[0] = 2·X[0], imagp[0] = 2·X[N/2], realp[k] + i·imagp[k] = 2·X[k] for
// k = 1 … N/2−1, where X[k] = Σ x[n]·e^(−2πi·kn/N). No window, no other scaling.
//
// The plan is made once, on the construction thread (FFTW's planner is not thread-safe);
// forward() may then run on the audio thread: it allocates nothing and takes no lock.
#include <fftw3.h>

#include <cstdint>

namespace fm::platform {

class PackedRealFft {
  public:
    // Input blocks handed to forward() must be aligned to this many bytes.
    static constexpr std::size_t kInputAlignment = 64;

    explicit PackedRealFft(int logN);
    ~PackedRealFft();
    PackedRealFft(const PackedRealFft&) = delete;
    PackedRealFft& operator=(const PackedRealFft&) = delete;

    int size() const { return n_; }

    // x: n floats, kInputAlignment-aligned (left unchanged). realp, imagp: n/2 floats each.
    void forward(const float* x, float* realp, float* imagp);

    // Bare FFTW execute into the internal work area, for comparisons.
    void executeOnly(const float* x);

  private:
    int n_;
    float* planInput_ = nullptr;
    fftwf_complex* spectrum_ = nullptr;  // n/2 + 1 bins
    fftwf_plan plan_ = nullptr;
};

// 16-bit samples to floats in −1 … 1: each sample s becomes s / 32768.
void convertInt16ToFloat(const std::int16_t* in, float* out, std::uint32_t count);

}  // namespace fm::platform
