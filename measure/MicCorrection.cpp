#include "measure/MicCorrection.h"

#include <fftw3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace fm::measure {

namespace {

// The largest response a file may give, either way: beyond it the "table" is something else.
constexpr double kMostDb = 40.0;
// Where the input counts as overloaded (the meter's own threshold, one 16-bit step below full
// scale): the correction keeps that judgement the input's.
constexpr float kOverload = 32767.0f / 32768.0f;
constexpr float kBelowOverload = 32766.0f / 32768.0f;
// The design's frequency grid: fine enough for the table's lowest frequencies.
constexpr int kDesignSize = 65536;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Reads a number at *at and moves past it; false when there is none.
bool number(const char** at, double* value) {
    while (isSpace(**at)) {
        ++*at;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(*at, &end);
    if (end == *at || errno == ERANGE || !std::isfinite(v)) {
        return false;
    }
    *at = end;
    *value = v;
    return true;
}

bool onlySpaceLeft(const char* at) {
    while (isSpace(*at)) {
        ++at;
    }
    return *at == '\0';
}

std::string shown(const std::string& line) {
    return "\"" + (line.size() > 60 ? line.substr(0, 60) + "..." : line) + "\"";
}

}  // namespace

double MicResponse::at(double hz) const {
    if (points.empty()) {
        return 0.0;
    }
    if (hz <= points.front().first) {
        return points.front().second;
    }
    if (hz >= points.back().first) {
        return points.back().second;
    }
    const auto hi = std::upper_bound(points.begin(), points.end(), hz,
                                     [](double h, const auto& p) { return h < p.first; });
    const auto lo = hi - 1;
    const double t = std::log(hz / lo->first) / std::log(hi->first / lo->first);
    return lo->second + t * (hi->second - lo->second);
}

double micFileOffsetDb(double sensFactorDb) {
    return kMicFileFullScaleDb - sensFactorDb;
}

std::optional<MicResponse> readMicResponse(const std::string& path, std::string* error) {
    MicResponse r;
    r.name = std::filesystem::path(path).filename().string();
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    std::string line;
    int n = 0;
    auto fail = [&](const std::string& why) {
        *error = r.name + " line " + std::to_string(n) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++n;
        const std::size_t first = line.find_first_not_of(" \t\r\v\f");
        if (first == std::string::npos) {
            continue;
        }
        if (const std::size_t sens = line.find("Sens Factor"); sens != std::string::npos) {
            if (r.sensFactorDb || !r.points.empty()) {
                return fail("the sensitivity comes once, before the table");
            }
            const std::size_t eq = line.find('=', sens);
            const char* at = eq == std::string::npos ? nullptr : line.c_str() + eq + 1;
            double db = 0.0;
            if (at == nullptr || !number(&at, &db) || std::fabs(db) > kMostDb) {
                return fail(shown(line) + " has no Sens Factor in dB (\"Sens Factor =-1.4dB\")");
            }
            r.sensFactorDb = db;
            continue;
        }
        if (std::strchr("*\";#", line[first]) != nullptr) {
            continue;
        }
        const char* at = line.c_str() + first;
        double hz = 0.0, db = 0.0, phase = 0.0;
        if (!number(&at, &hz) || !number(&at, &db)) {
            return fail(shown(line) + " is not a frequency in Hz and a response in dB");
        }
        if (!onlySpaceLeft(at) && (!number(&at, &phase) || !onlySpaceLeft(at))) {
            return fail(shown(line) + " has more than a frequency, a response and a phase");
        }
        if (hz <= 0.0) {
            return fail(shown(line) + ": the frequency must be above 0 Hz");
        }
        if (!r.points.empty() && hz <= r.points.back().first) {
            return fail(shown(line) + ": the frequencies must rise from line to line");
        }
        if (std::fabs(db) > kMostDb) {
            return fail(shown(line) + ": a response beyond " + std::to_string(int(kMostDb)) +
                        " dB is no microphone's");
        }
        r.points.emplace_back(hz, db);
    }
    if (in.bad()) {
        *error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    if (r.points.empty()) {
        *error = r.name + ": no line of a frequency in Hz and a response in dB";
        return std::nullopt;
    }
    return r;
}

MicCorrection::MicCorrection(const MicResponse& response, double sampleRate,
                             std::uint32_t maxFrames)
    : name_(response.name), sampleRate_(sampleRate), out_(maxFrames) {
    // Minimum phase by the real cepstrum: the log gain's cepstrum folded onto positive times is
    // the cepstrum of the minimum-phase filter with that gain.
    constexpr int N = kDesignSize;
    float* real = fftwf_alloc_real(N);
    fftwf_complex* spec = fftwf_alloc_complex(N / 2 + 1);
    fftwf_plan toSpectrum = fftwf_plan_dft_r2c_1d(N, real, spec, FFTW_ESTIMATE);
    fftwf_plan toTime = fftwf_plan_dft_c2r_1d(N, spec, real, FFTW_ESTIMATE);
    const double dbToNeper = std::numbers::ln10 / 20.0;
    for (int k = 0; k <= N / 2; ++k) {
        spec[k][0] = static_cast<float>(-response.at(k * sampleRate / N) * dbToNeper);
        spec[k][1] = 0.0f;
    }
    fftwf_execute(toTime);
    for (int i = 0; i < N; ++i) {
        const float fold = i == 0 || i == N / 2 ? 1.0f : (i < N / 2 ? 2.0f : 0.0f);
        real[i] *= fold / N;
    }
    fftwf_execute(toSpectrum);
    for (int k = 0; k <= N / 2; ++k) {
        const std::complex<double> z = std::exp(std::complex<double>(spec[k][0], spec[k][1]));
        spec[k][0] = static_cast<float>(z.real());
        spec[k][1] = static_cast<float>(z.imag());
    }
    fftwf_execute(toTime);
    // The response dies away within the taps; the last eighth fades out so that it ends at 0.
    taps_.resize(kTaps);
    const std::uint32_t fade = kTaps / 8;
    for (std::uint32_t i = 0; i < kTaps; ++i) {
        double w = 1.0;
        if (i >= kTaps - fade) {
            w = 0.5 * (1.0 + std::cos(std::numbers::pi * (i - (kTaps - fade)) / fade));
        }
        taps_[i] = static_cast<float>(real[i] / N * w);
    }
    fftwf_destroy_plan(toSpectrum);
    fftwf_destroy_plan(toTime);
    fftwf_free(real);
    fftwf_free(spec);

    // The running convolution: the first partition of taps directly, sample by sample; the
    // others as spectra, from input chunks that are complete before they are needed.
    constexpr std::uint32_t P = kPartition;
    constexpr std::uint32_t parts = kTaps / P;
    input_.assign(2 * P, 0.0f);
    tail_.assign(P, 0.0f);
    fftIn_.assign(2 * P, 0.0f);
    fftOut_.assign(2 * P, 0.0f);
    spectrum_ = fftwf_alloc_complex(P + 1);
    forward_ = fftwf_plan_dft_r2c_1d(2 * P, fftIn_.data(), spectrum_, FFTW_ESTIMATE);
    inverse_ = fftwf_plan_dft_c2r_1d(2 * P, spectrum_, fftOut_.data(), FFTW_ESTIMATE);
    partitions_.assign(parts - 1, Spectrum(P + 1));
    history_.assign(parts - 1, Spectrum(P + 1));
    sum_.assign(P + 1, {});
    for (std::uint32_t j = 1; j < parts; ++j) {
        std::fill(fftIn_.begin(), fftIn_.end(), 0.0f);
        std::copy_n(taps_.begin() + j * P, P, fftIn_.begin());
        fftwf_execute(forward_);
        for (std::uint32_t k = 0; k <= P; ++k) {
            // Scaled here for the inverse transform, which does not.
            partitions_[j - 1][k] =
                std::complex<float>(spectrum_[k][0], spectrum_[k][1]) / static_cast<float>(2 * P);
        }
    }
    // The first partition reversed, to run forward over the input.
    head_.resize(P);
    for (std::uint32_t k = 0; k < P; ++k) {
        head_[k] = taps_[P - 1 - k];
    }
}

MicCorrection::~MicCorrection() {
    fftwf_destroy_plan(forward_);
    fftwf_destroy_plan(inverse_);
    fftwf_free(spectrum_);
}

double MicCorrection::gainDb(double hz) const {
    std::complex<double> sum;
    const double w = -2.0 * std::numbers::pi * hz / sampleRate_;
    for (std::size_t n = 0; n < taps_.size(); ++n) {
        sum += static_cast<double>(taps_[n]) * std::polar(1.0, w * static_cast<double>(n));
    }
    return 20.0 * std::log10(std::abs(sum));
}

const float* MicCorrection::apply(const float* samples, std::uint32_t frames) {
    constexpr std::uint32_t P = kPartition;
    frames = std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(out_.size()));
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float x = samples[i];
        // A sample that is no number never enters the filter's memory, where it would stay for
        // the length of the taps.
        input_[P + at_] = std::isfinite(x) ? x : 0.0f;
        const float* recent = input_.data() + at_ + 1;
        float y = tail_[at_];
        for (std::uint32_t k = 0; k < P; ++k) {
            y += head_[k] * recent[k];
        }
        // Overload is the input's: what it clipped (or could not give) stays as it came, and the
        // correction never makes a sample the input did not clip reach full scale.
        if (!(std::fabs(x) < kOverload)) {
            y = x;
        } else {
            y = std::clamp(y, -kBelowOverload, kBelowOverload);
        }
        out_[i] = y;
        if (++at_ == P) {
            closeChunk();
        }
    }
    return out_.data();
}

void MicCorrection::forget() {
    std::fill(input_.begin(), input_.end(), 0.0f);
    std::fill(tail_.begin(), tail_.end(), 0.0f);
    for (Spectrum& s : history_) {
        std::fill(s.begin(), s.end(), std::complex<float>());
    }
    at_ = 0;
}

void MicCorrection::closeChunk() {
    constexpr std::uint32_t P = kPartition;
    std::copy(input_.begin(), input_.end(), fftIn_.begin());
    fftwf_execute(forward_);
    const std::size_t count = history_.size();
    newest_ = (newest_ + 1) % count;
    for (std::uint32_t k = 0; k <= P; ++k) {
        history_[newest_][k] = std::complex<float>(spectrum_[k][0], spectrum_[k][1]);
    }
    // The next chunk gets partition j of the taps over the chunk j - 1 before this one.
    std::fill(sum_.begin(), sum_.end(), std::complex<float>());
    for (std::size_t j = 0; j < count; ++j) {
        const Spectrum& x = history_[(newest_ + count - j) % count];
        const Spectrum& h = partitions_[j];
        for (std::uint32_t k = 0; k <= P; ++k) {
            sum_[k] += x[k] * h[k];
        }
    }
    for (std::uint32_t k = 0; k <= P; ++k) {
        spectrum_[k][0] = sum_[k].real();
        spectrum_[k][1] = sum_[k].imag();
    }
    fftwf_execute(inverse_);
    std::copy_n(fftOut_.begin() + P, P, tail_.begin());
    std::copy_n(input_.begin() + P, P, input_.begin());
    at_ = 0;
}

namespace {
std::string& inUse() {
    static std::string name;
    return name;
}
}  // namespace

void setMicCorrectionInUse(std::string name) {
    inUse() = std::move(name);
}

const std::string& micCorrectionInUse() {
    return inUse();
}

}  // namespace fm::measure
