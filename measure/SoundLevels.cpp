#include "measure/SoundLevels.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <thread>

#include "measure/Decibels.h"

namespace fm::measure {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Pole frequencies of the IEC 61672-1 weightings, in Hz.
constexpr double kF1 = 20.598997;
constexpr double kF2 = 107.65265;
constexpr double kF3 = 737.86223;
constexpr double kF4 = 12194.217;
constexpr double kTauFast = 0.125;
constexpr double kTauSlow = 1.0;

// s² / ((s + wa)(s + wb)) by the bilinear transform.
Biquad bilinearHighPass(double fa, double fb, double sampleRate) {
    const double k = 2.0 * sampleRate;
    const double wa = 2.0 * kPi * fa;
    const double wb = 2.0 * kPi * fb;
    const double d0 = (k + wa) * (k + wb);
    const double d1 = -(k + wa) * (k - wb) - (k - wa) * (k + wb);
    const double d2 = (k - wa) * (k - wb);
    Biquad q;
    q.b0 = k * k / d0;
    q.b1 = -2.0 * k * k / d0;
    q.b2 = k * k / d0;
    q.a1 = d1 / d0;
    q.a2 = d2 / d0;
    return q;
}

// 1 / (1 + s/w4)²: poles at the matched-z image of the analog double pole; the numerator fits
// |H|² to the exact magnitude in the least-squares sense. With phi1 = sin²(w/2), phi0 = 1 - phi1
// and phi2 = 4 phi0 phi1, a biquad's |H|² is (B0 phi0 + B1 phi1 + B2 phi2) / (the same in the A
// terms), linear in B0, B1, B2; B0 is fixed by unit gain at 0 Hz and B1, B2 are fitted with
// relative weights, then factored back into b0, b1, b2 (minimum phase).
Biquad matchedLowPass(double sampleRate) {
    const double p = std::exp(-2.0 * kPi * kF4 / sampleRate);
    Biquad q;
    q.a1 = -2.0 * p;
    q.a2 = p * p;
    const double bigA0 = (1.0 + q.a1 + q.a2) * (1.0 + q.a1 + q.a2);
    const double bigA1 = (1.0 - q.a1 + q.a2) * (1.0 - q.a1 + q.a2);
    const double bigA2 = -4.0 * q.a2;
    const double bigB0 = bigA0;
    const double fTop = std::min(20000.0, 0.48 * sampleRate);
    double s11 = 0, s12 = 0, s22 = 0, t1 = 0, t2 = 0;
    for (double f = 20.0; f <= fTop; f *= 1.01) {
        const double phi1 = std::pow(std::sin(kPi * f / sampleRate), 2);
        const double phi0 = 1.0 - phi1;
        const double phi2 = 4.0 * phi0 * phi1;
        const double den = bigA0 * phi0 + bigA1 * phi1 + bigA2 * phi2;
        const double r = f / kF4;
        const double target = 1.0 / ((1.0 + r * r) * (1.0 + r * r));
        const double weight = 1.0 / (target * den);  // relative error of |H|²
        const double u = phi1 * weight;
        const double v = phi2 * weight;
        const double y = (target * den - bigB0 * phi0) * weight;
        s11 += u * u;
        s12 += u * v;
        s22 += v * v;
        t1 += u * y;
        t2 += v * y;
    }
    const double det = s11 * s22 - s12 * s12;
    const double bigB1 = (t1 * s22 - t2 * s12) / det;
    const double bigB2 = (s11 * t2 - s12 * t1) / det;
    // b0 + b1 + b2 = sqrt(B0), b0 - b1 + b2 = sqrt(B1), b0 b2 = -B2 / 4.
    const double r0 = std::sqrt(bigB0);
    const double r1 = std::sqrt(std::max(bigB1, 0.0));
    const double sum = 0.5 * (r0 + r1);
    const double product = -0.25 * bigB2;
    const double root = std::sqrt(std::max(sum * sum - 4.0 * product, 0.0));
    q.b1 = 0.5 * (r0 - r1);
    q.b0 = 0.5 * (sum + root);
    q.b2 = 0.5 * (sum - root);
    return q;
}

double chainMagnitude(std::initializer_list<const Biquad*> chain, double f, double sampleRate) {
    double m = 1.0;
    for (const Biquad* q : chain) {
        m *= q->magnitudeAt(f, sampleRate);
    }
    return m;
}

void scale(Biquad& q, double g) {
    q.b0 *= g;
    q.b1 *= g;
    q.b2 *= g;
}

double flushed(double v) {
    return std::fabs(v) < 1e-30 ? 0.0 : v;
}

}  // namespace

double Biquad::magnitudeAt(double f, double sampleRate) const {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f / sampleRate);
    const std::complex<double> num = b0 + z1 * (b1 + z1 * b2);
    const std::complex<double> den = 1.0 + z1 * (a1 + z1 * a2);
    return std::abs(num / den);
}

void Biquad::flushTiny() {
    x1 = flushed(x1);
    x2 = flushed(x2);
    y1 = flushed(y1);
    y2 = flushed(y2);
}

double exactWeightingDb(Weighting w, double f) {
    const double ff = f * f;
    switch (w) {
        case Weighting::A: {
            const double r = kF4 * kF4 * ff * ff /
                             ((ff + kF1 * kF1) * std::sqrt(ff + kF2 * kF2) *
                              std::sqrt(ff + kF3 * kF3) * (ff + kF4 * kF4));
            return 20.0 * std::log10(r) + 2.000;
        }
        case Weighting::C: {
            const double r = kF4 * kF4 * ff / ((ff + kF1 * kF1) * (ff + kF4 * kF4));
            return 20.0 * std::log10(r) + 0.062;
        }
        case Weighting::Z:
            break;
    }
    return 0.0;
}

SoundLevelMeter::SoundLevelMeter(double sampleRate)
    : sampleRate_(sampleRate),
      framesPerSecond_(static_cast<std::uint64_t>(std::llround(sampleRate))),
      alphaFast_(1.0 - std::exp(-1.0 / (kTauFast * sampleRate))),
      alphaSlow_(1.0 - std::exp(-1.0 / (kTauSlow * sampleRate))),
      keepFast_(1.0 - alphaFast_),
      keepSlow_(1.0 - alphaSlow_),
      lowC_(bilinearHighPass(kF1, kF1, sampleRate)),
      highAC_(matchedLowPass(sampleRate)),
      midA_(bilinearHighPass(kF2, kF3, sampleRate)) {
    // Each chain reads its exact value at 1 kHz.
    const double c1k = chainMagnitude({&lowC_, &highAC_}, 1000.0, sampleRate);
    scale(highAC_, std::pow(10.0, exactWeightingDb(Weighting::C, 1000.0) / 20.0) / c1k);
    const double a1k = chainMagnitude({&lowC_, &highAC_, &midA_}, 1000.0, sampleRate);
    scale(midA_, std::pow(10.0, exactWeightingDb(Weighting::A, 1000.0) / 20.0) / a1k);
}

void SoundLevelMeter::process(const float* samples, std::uint32_t frames) {
    // The last-second values close exactly on the second's last frame, within a block if need be.
    while (frames > 0) {
        const std::uint64_t room = framesPerSecond_ - secFrames_;
        const auto span = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, room));
        processSpan(samples, span);
        samples += span;
        frames -= span;
        if (secFrames_ == framesPerSecond_) {
            closeSecond();
        }
    }
    lowC_.flushTiny();
    highAC_.flushTiny();
    midA_.flushTiny();
    uAF_ = flushed(uAF_);
    uAS_ = flushed(uAS_);
    uCF_ = flushed(uCF_);
    uZF_ = flushed(uZF_);
    publish();
}

void SoundLevelMeter::processSpan(const float* samples, std::uint32_t frames) {
    // Locals, so that the compiler keeps the running values in registers.
    Biquad lowC = lowC_, highAC = highAC_, midA = midA_;
    double af = uAF_, as = uAS_, cf = uCF_, zf = uZF_;
    double sumA = 0, sumC = 0, sumZ = 0, maxAF = secMaxAF_, peakC = secPeakC_;
    const double kf = keepFast_, ks = keepSlow_;
    for (std::uint32_t n = 0; n < frames; ++n) {
        const double z = samples[n];
        const double c = highAC.process(lowC.process(z));
        const double a = midA.process(c);
        const double a2 = a * a, c2 = c * c, z2 = z * z;
        af = kf * af + a2;
        as = ks * as + a2;
        cf = kf * cf + c2;
        zf = kf * zf + z2;
        sumA += a2;
        sumC += c2;
        sumZ += z2;
        maxAF = std::max(maxAF, af);
        peakC = std::max(peakC, std::fabs(c));
    }
    lowC_ = lowC;
    highAC_ = highAC;
    midA_ = midA;
    uAF_ = af;
    uAS_ = as;
    uCF_ = cf;
    uZF_ = zf;
    sumA_ += sumA;
    sumC_ += sumC;
    sumZ_ += sumZ;
    secSumA_ += sumA;
    secSumC_ += sumC;
    secSumZ_ += sumZ;
    secMaxAF_ = maxAF;
    secPeakC_ = peakC;
    maxAF_ = std::max(maxAF_, maxAF);
    peakC_ = std::max(peakC_, peakC);
    frames_ += frames;
    secFrames_ += frames;
}

void SoundLevelMeter::closeSecond() {
    const double n = static_cast<double>(secFrames_);
    lastMsA1s_ = secSumA_ / n;
    lastMsC1s_ = secSumC_ / n;
    lastMsZ1s_ = secSumZ_ / n;
    lastMaxAF1s_ = secMaxAF_ * alphaFast_;
    lastPeakC1s_ = secPeakC_;
    ++wholeSeconds_;
    secSumA_ = secSumC_ = secSumZ_ = secMaxAF_ = secPeakC_ = 0.0;
    secFrames_ = 0;
}

void SoundLevelMeter::publish() {
    // Release stores: a reader that sees any of these values also sees the odd sequence.
    constexpr auto r = std::memory_order_release;
    const std::uint64_t seq = sequence_.load(std::memory_order_relaxed);
    sequence_.store(seq + 1, std::memory_order_relaxed);
    Published& p = published_;
    p.msAF.store(uAF_ * alphaFast_, r);
    p.msAS.store(uAS_ * alphaSlow_, r);
    p.msCF.store(uCF_ * alphaFast_, r);
    p.msZF.store(uZF_ * alphaFast_, r);
    p.sumA.store(sumA_, r);
    p.sumC.store(sumC_, r);
    p.sumZ.store(sumZ_, r);
    p.frames.store(frames_, r);
    p.maxAF.store(maxAF_ * alphaFast_, r);
    p.peakC.store(peakC_, r);
    p.msA1s.store(lastMsA1s_, r);
    p.msC1s.store(lastMsC1s_, r);
    p.msZ1s.store(lastMsZ1s_, r);
    p.maxAF1s.store(lastMaxAF1s_, r);
    p.peakC1s.store(lastPeakC1s_, r);
    p.wholeSeconds.store(wholeSeconds_, r);
    sequence_.store(seq + 2, std::memory_order_release);
}

namespace {

double levelDb(double meanSquare, double offset) {
    return meanSquareToDb(meanSquare, offset);
}

double peakDb(double peak, double offset) {
    return peakToDb(peak, offset);
}

}  // namespace

SoundLevelSnapshot SoundLevelMeter::read() const {
    // Acquire loads: the second look at the sequence cannot move before any of them.
    constexpr auto r = std::memory_order_acquire;
    const Published& p = published_;
    double msAF, msAS, msCF, msZF, sumA, sumC, sumZ, maxAF, peakC, msA1s, msC1s, msZ1s, maxAF1s,
        peakC1s;
    std::uint64_t frames, wholeSeconds;
    for (int attempt = 0;; ++attempt) {
        const std::uint64_t before = sequence_.load(std::memory_order_acquire);
        msAF = p.msAF.load(r);
        msAS = p.msAS.load(r);
        msCF = p.msCF.load(r);
        msZF = p.msZF.load(r);
        sumA = p.sumA.load(r);
        sumC = p.sumC.load(r);
        sumZ = p.sumZ.load(r);
        frames = p.frames.load(r);
        maxAF = p.maxAF.load(r);
        peakC = p.peakC.load(r);
        msA1s = p.msA1s.load(r);
        msC1s = p.msC1s.load(r);
        msZ1s = p.msZ1s.load(r);
        maxAF1s = p.maxAF1s.load(r);
        peakC1s = p.peakC1s.load(r);
        wholeSeconds = p.wholeSeconds.load(r);
        if ((before & 1u) == 0 && sequence_.load(std::memory_order_relaxed) == before) {
            break;
        }
        if (attempt > 64) {
            std::this_thread::yield();  // the audio thread was interrupted while publishing
        }
    }
    SoundLevelSnapshot s;
    s.calibrationOffsetDb = offsetDb_.load(std::memory_order_relaxed);
    s.calibrated = calibrated_.load(std::memory_order_relaxed);
    const double o = s.calibrationOffsetDb;
    s.LAF = levelDb(msAF, o);
    s.LAS = levelDb(msAS, o);
    s.LCF = levelDb(msCF, o);
    s.LZF = levelDb(msZF, o);
    const double n = static_cast<double>(frames);
    s.LAeq = frames > 0 ? levelDb(sumA / n, o) : kLevelFloorDb;
    s.LCeq = frames > 0 ? levelDb(sumC / n, o) : kLevelFloorDb;
    if (wholeSeconds > 0) {
        s.LAeq1s = levelDb(msA1s, o);
        s.LCeq1s = levelDb(msC1s, o);
        s.LZeq1s = levelDb(msZ1s, o);
        s.LAFmax1s = levelDb(maxAF1s, o);
        s.LCpeak1s = peakDb(peakC1s, o);
    }
    s.LAFmax = levelDb(maxAF, o);
    s.LCpeak = peakDb(peakC, o);
    s.framesCaptured = frames;
    s.wholeSeconds = wholeSeconds;
    s.sumSquaresA = sumA;
    s.sumSquaresC = sumC;
    s.sumSquaresZ = sumZ;
    return s;
}

void SoundLevelMeter::setCalibration(double offsetDb, bool calibrated) {
    offsetDb_.store(offsetDb, std::memory_order_relaxed);
    calibrated_.store(calibrated, std::memory_order_relaxed);
}

namespace {
// Made during static initialisation, so the audio thread never constructs it.
SoundLevelMeter processMeter;
}  // namespace

SoundLevelMeter& soundLevelMeter() {
    return processMeter;
}

SoundLevelSnapshot readSoundLevels() {
    return soundLevelMeter().read();
}

double equivalentLevelDb(const SoundLevelSnapshot& from, const SoundLevelSnapshot& to,
                         Weighting weighting, bool withCalibration) {
    if (to.framesCaptured <= from.framesCaptured) {
        return kLevelFloorDb;
    }
    double energy = 0.0;
    switch (weighting) {
        case Weighting::A:
            energy = to.sumSquaresA - from.sumSquaresA;
            break;
        case Weighting::C:
            energy = to.sumSquaresC - from.sumSquaresC;
            break;
        case Weighting::Z:
            energy = to.sumSquaresZ - from.sumSquaresZ;
            break;
    }
    const double frames = static_cast<double>(to.framesCaptured - from.framesCaptured);
    return levelDb(energy / frames, withCalibration ? to.calibrationOffsetDb : 0.0);
}

const char* levelUnit(bool calibrated) {
    return calibrated ? "dB" : "dBFS";
}

}  // namespace fm::measure
