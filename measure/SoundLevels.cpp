#include "measure/SoundLevels.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

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

}  // namespace

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

namespace {

// 1 - exp(-1 / (tau fs)): the share of each new squared sample in an exponential average.
double timeWeightingAlpha(double tau, double sampleRate) {
    return 1.0 - std::exp(-1.0 / (tau * sampleRate));
}

}  // namespace

LevelEngine weightingEngine(double sampleRate) {
    // Each chain reads its exact value at 1 kHz.
    const Biquad lowC = bilinearHighPass(kF1, kF1, sampleRate);
    Biquad highAC = matchedLowPass(sampleRate);
    Biquad midA = bilinearHighPass(kF2, kF3, sampleRate);
    const double c1k = chainMagnitude({&lowC, &highAC}, 1000.0, sampleRate);
    scale(highAC, std::pow(10.0, exactWeightingDb(Weighting::C, 1000.0) / 20.0) / c1k);
    const double a1k = chainMagnitude({&lowC, &highAC, &midA}, 1000.0, sampleRate);
    scale(midA, std::pow(10.0, exactWeightingDb(Weighting::A, 1000.0) / 20.0) / a1k);
    return LevelEngine(lowC, highAC, midA, 1.0 - timeWeightingAlpha(kTauFast, sampleRate),
                       1.0 - timeWeightingAlpha(kTauSlow, sampleRate));
}

SoundLevelMeter::SoundLevelMeter(double sampleRate)
    : sampleRate_(sampleRate),
      framesPerSecond_(static_cast<std::uint64_t>(std::llround(sampleRate))),
      alphaFast_(timeWeightingAlpha(kTauFast, sampleRate)),
      alphaSlow_(timeWeightingAlpha(kTauSlow, sampleRate)),
      engine_(weightingEngine(sampleRate)) {}

void SoundLevelMeter::process(const float* samples, std::uint32_t frames,
                              std::uint32_t hiddenOverload) {
    hiddenOverload_ = hiddenOverload;
    // The 100 ms ticks and the seconds close exactly on their last frame, within a block if
    // need be.
    while (frames > 0) {
        const std::uint64_t tickEnd =
            static_cast<std::uint64_t>(ticksInSecond_ + 1) * framesPerSecond_ / kTicksPerSecond;
        const std::uint64_t room = tickEnd - secFrames_;
        const auto span = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, room));
        processSpan(samples, span);
        samples += span;
        frames -= span;
        if (secFrames_ == tickEnd) {
            closeTick();
        }
    }
    engine_.flushTiny();
    publish();
}

void SoundLevelMeter::processSpan(const float* samples, std::uint32_t frames) {
    const SpanTotals t = engine_.run(samples, frames);
    const double sumA = t.sumA, sumC = t.sumC, sumZ = t.sumZ;
    const double maxAF = t.maxFastA, peakC = t.peakC;
    const std::uint32_t overloaded = t.overloaded + std::exchange(hiddenOverload_, 0);
    sumA_ += sumA;
    sumC_ += sumC;
    sumZ_ += sumZ;
    secSumA_ += sumA;
    secSumC_ += sumC;
    secSumZ_ += sumZ;
    secMaxAF_ = std::max(secMaxAF_, maxAF);
    secPeakC_ = std::max(secPeakC_, peakC);
    tickMaxAF_ = std::max(tickMaxAF_, maxAF);
    tickPeakC_ = std::max(tickPeakC_, peakC);
    tickSumA_ += sumA;
    maxAF_ = std::max(maxAF_, maxAF);
    peakC_ = std::max(peakC_, peakC);
    frames_ += frames;
    secFrames_ += frames;
    secOverload_ += overloaded;
    tickOverload_ += overloaded;
    overload_ += overloaded;
}

void SoundLevelMeter::closeTick() {
    secTicks_[static_cast<std::size_t>(ticksInSecond_)] = engine_.fastA();
    closedTick_.meanSquareAF = engine_.fastA() * alphaFast_;
    closedTick_.maxMeanSquareAF = tickMaxAF_ * alphaFast_;
    closedTick_.peakC = tickPeakC_;
    closedTick_.sumSquaresA = tickSumA_;
    closedTick_.frames = static_cast<std::uint32_t>(secFrames_ - tickStart_);
    closedTick_.overloadSamples = std::exchange(tickOverload_, 0);
    closedTickPending_ = true;
    tickMaxAF_ = tickPeakC_ = tickSumA_ = 0.0;
    tickStart_ = secFrames_;
    if (++ticksInSecond_ == kTicksPerSecond) {
        closeSecond();
    }
}

void SoundLevelMeter::closeSecond() {
    const double n = static_cast<double>(secFrames_);
    lastMsA1s_ = secSumA_ / n;
    lastMsC1s_ = secSumC_ / n;
    lastMsZ1s_ = secSumZ_ / n;
    lastMaxAF1s_ = secMaxAF_ * alphaFast_;
    lastPeakC1s_ = secPeakC_;
    lastOverload1s_ = secOverload_;
    ++wholeSeconds_;

    closed_.meanSquareA = lastMsA1s_;
    closed_.meanSquareC = lastMsC1s_;
    closed_.meanSquareZ = lastMsZ1s_;
    closed_.maxMeanSquareAF = lastMaxAF1s_;
    closed_.peakC = lastPeakC1s_;
    closed_.overloadSamples = static_cast<std::uint32_t>(secOverload_);
    double minTick = secTicks_[0];
    for (std::size_t k = 0; k < secTicks_.size(); ++k) {
        closed_.tickMeanSquareAF[k] = secTicks_[k] * alphaFast_;
        minTick = std::min(minTick, secTicks_[k]);
    }
    closed_.minMeanSquareAF = minTick * alphaFast_;
    closedPending_ = true;
    discardPartialSecond();
}

void SoundLevelMeter::discardPartialSecond() {
    secSumA_ = secSumC_ = secSumZ_ = secMaxAF_ = secPeakC_ = 0.0;
    secFrames_ = 0;
    secOverload_ = 0;
    ticksInSecond_ = 0;
    tickMaxAF_ = tickPeakC_ = tickSumA_ = 0.0;
    tickOverload_ = 0;
    tickStart_ = 0;
}

std::uint64_t SoundLevelMeter::framesToTickEnd() const {
    return static_cast<std::uint64_t>(ticksInSecond_ + 1) * framesPerSecond_ / kTicksPerSecond -
           secFrames_;
}

bool SoundLevelMeter::takeClosedTick(ClosedTick* out) {
    if (!closedTickPending_) {
        return false;
    }
    closedTickPending_ = false;
    *out = closedTick_;
    return true;
}

bool SoundLevelMeter::takeClosedSecond(ClosedSecond* out) {
    if (!closedPending_) {
        return false;
    }
    closedPending_ = false;
    *out = closed_;
    return true;
}

void SoundLevelMeter::publish() {
    // Release stores: a reader that sees any of these values also sees the odd sequence.
    constexpr auto r = std::memory_order_release;
    const std::uint64_t seq = sequence_.load(std::memory_order_relaxed);
    sequence_.store(seq + 1, std::memory_order_relaxed);
    Published& p = published_;
    p.msAF.store(engine_.fastA() * alphaFast_, r);
    p.msAS.store(engine_.slowA() * alphaSlow_, r);
    p.msCF.store(engine_.fastC() * alphaFast_, r);
    p.msZF.store(engine_.fastZ() * alphaFast_, r);
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
    p.overloadSamples.store(overload_, r);
    p.overload1s.store(lastOverload1s_, r);
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
    std::uint64_t frames, wholeSeconds, overload, overload1s;
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
        overload = p.overloadSamples.load(r);
        overload1s = p.overload1s.load(r);
        if ((before & 1u) == 0 && sequence_.load(std::memory_order_relaxed) == before) {
            break;
        }
        if (attempt > 64) {
            std::this_thread::yield();  // the audio thread was interrupted while publishing
        }
    }
    SoundLevelSnapshot s;
    s.calibrationOffsetDb = calibrationOffsetDb();
    s.calibrated = calibrated();
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
    s.overloadSamples = overload;
    s.overloadSamples1s = overload1s;
    s.sumSquaresA = sumA;
    s.sumSquaresC = sumC;
    s.sumSquaresZ = sumZ;
    return s;
}

void SoundLevelMeter::setCalibration(double offsetDb, bool calibrated) {
    offsetDb_.store(calibrated ? offsetDb : 0.0, std::memory_order_relaxed);
    calibrated_.store(calibrated, std::memory_order_relaxed);
}

void SoundLevelMeter::suspendCalibration(bool suspended) {
    calibrationSuspended_.store(suspended, std::memory_order_relaxed);
}

double SoundLevelMeter::calibrationOffsetDb() const {
    return calibrated() ? offsetDb_.load(std::memory_order_relaxed) : 0.0;
}

bool SoundLevelMeter::calibrated() const {
    return calibrated_.load(std::memory_order_relaxed) &&
           !calibrationSuspended_.load(std::memory_order_relaxed);
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
