#pragma once
// A measurement microphone's own response, from the calibration file that comes with each unit,
// and the filter that takes it out of the samples. The file: an optional line with the unit's
// sensitivity ("Sens Factor =-1.378dB, AGain =18dB, SERNO: ..."), then one frequency in Hz and
// the microphone's response in dB per line (whitespace separated, a third column is ignored);
// lines starting with * " ; or # are comments. The filter is the table's inverse (a response of
// +6 dB is read 6 dB lower), minimum phase so that it adds almost no delay, applied as a
// partitioned FFT convolution with no latency. Qt-free.
#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct fftwf_plan_s;  // FFTW's plan, single precision

namespace fm::measure {

struct MicResponse {
    std::string name;                    // the file's name, without its folder
    std::optional<double> sensFactorDb;  // the unit's "Sens Factor", when the file has one
    std::vector<std::pair<double, double>> points;  // Hz and dB, frequencies rising

    // The response at `hz`: straight lines between the points over log frequency, held flat
    // beyond the first and the last.
    double at(double hz) const;
};

// A USB measurement microphone at its nominal sensitivity and gain (18 dB) reads a 94 dB tone at
// -18 dBFS: 0 dBFS is 112 dB. The unit's Sens Factor says how much more sensitive it is than
// that, so 0 dBFS reads kMicFileFullScaleDb - Sens Factor.
inline constexpr double kMicFileFullScaleDb = 112.0;
double micFileOffsetDb(double sensFactorDb);

// Reads `path`; nullopt and *error ("mic.txt line 7: ...") when it is not such a file.
std::optional<MicResponse> readMicResponse(const std::string& path, std::string* error);

class MicCorrection {
  public:
    static constexpr std::uint32_t kTaps = 8192;
    static constexpr std::uint32_t kPartition = 128;

    // Main thread (the FFT plans are made here). Blocks up to `maxFrames` long are corrected.
    MicCorrection(const MicResponse& response, double sampleRate, std::uint32_t maxFrames = 4096);
    ~MicCorrection();
    MicCorrection(const MicCorrection&) = delete;
    MicCorrection& operator=(const MicCorrection&) = delete;

    const std::string& name() const { return name_; }
    // The filter's gain at `hz` in dB (what the design achieved).
    double gainDb(double hz) const;

    // Measuring thread: the next `frames` (at most maxFrames) samples, corrected, in a buffer of
    // its own that holds them until the next call. Never allocates or locks.
    const float* apply(const float* samples, std::uint32_t frames);
    // Measuring thread, when the input stops: what follows owes nothing to what came before.
    void forget();

  private:
    using Spectrum = std::vector<std::complex<float>>;
    void closeChunk();

    std::string name_;
    double sampleRate_;
    std::vector<float> taps_;
    std::vector<float> head_;
    std::vector<float> out_;
    // Input: the chunk before and the one being filled; `at_` frames of the latter are in.
    std::vector<float> input_;
    std::uint32_t at_ = 0;
    // What the taps after the first partition add to the chunk being filled.
    std::vector<float> tail_;
    std::vector<Spectrum> partitions_;  // the spectra of the taps after the first partition
    std::vector<Spectrum> history_;     // the input's last chunk spectra, newest at newest_
    std::size_t newest_ = 0;
    Spectrum sum_;
    std::vector<float> fftIn_, fftOut_;
    float (*spectrum_)[2] = nullptr;  // FFTW's complex numbers
    fftwf_plan_s* forward_ = nullptr;
    fftwf_plan_s* inverse_ = nullptr;
};

// The correction in use for this run, by its file's name ("" when none), for every writer to
// say: set once at the start on the main thread, before the writers start.
void setMicCorrectionInUse(std::string name);
const std::string& micCorrectionInUse();

}  // namespace fm::measure
