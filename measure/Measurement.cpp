#include "measure/Measurement.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include "platform/audio/SampleConversion.h"
#include "platform/cpu/VectorState.h"

namespace fm::measure {

namespace {

// Without a wake-up, the measuring thread looks at the ring this often for each block it would
// have been woken for (four blocks: 150 ms).
constexpr long kWaitPerBlockNs = 37'500'000;

// Twelve seconds of audio (in blocks of 512 frames or more): a stall of the measuring thread, or of
// the whole program while the sound server keeps its input, shorter than that loses nothing.
// About 2 MB, made once.
constexpr double kRingSeconds = 12.0;
// A quarter of an hour of seconds waiting for the main thread (a machine suspended longer loses
// no second either: nothing is measured while it sleeps).
constexpr std::size_t kSecondsQueued = 900;

std::int64_t clockNs(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::size_t ringSlots(double sampleRate) {
    return static_cast<std::size_t>(std::ceil(kRingSeconds * sampleRate / BlockRing::kSlotFrames));
}

}  // namespace

Measurement::Measurement(double sampleRate)
    : sampleRate_(sampleRate),
      meter_(sampleRate),
      bands_(sampleRate),
      ring_(ringSlots(sampleRate)),
      seconds_(kSecondsQueued),
      clock_(sampleRate) {
    ::sem_init(&wake_, 0, 0);
}

Measurement::~Measurement() {
    if (thread_.joinable()) {
        stopping_.store(true, std::memory_order_relaxed);
        ::sem_post(&wake_);
        thread_.join();
    }
    ::sem_destroy(&wake_);
}

void Measurement::start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] {
            fm::platform::clearUpperVectorState();
            run();
        });
    }
}

void Measurement::setInput(InputKind kind) {
    const bool stops = !hasLevels(kind) && hasLevels(input());
    if (stops) {
        epoch_.fetch_add(1, std::memory_order_relaxed);
    }
    meter_.suspendCalibration(kind == InputKind::Demo);
    input_.store(kind, std::memory_order_relaxed);
    if (stops) {
        // The observer hears of the stop now, not when (or if) the input comes back.
        ::sem_post(&wake_);
    }
}

void Measurement::setObserver(MeasurementObserver* observer) {
    // Sequentially consistent on both sides: either the measuring thread loads the new observer,
    // or this thread sees it calling the old one and waits for that block to end.
    observer_.store(observer);
    while (observing_.load()) {
        std::this_thread::yield();
    }
}

void Measurement::feed(const float* samples, std::uint32_t frames, std::uint32_t overloaded,
                       std::uint64_t overflows) {
    // Read one after the other: the difference of the two is the wall clock's offset.
    const std::int64_t monoNs = clockNs(CLOCK_MONOTONIC);
    const std::int64_t wallNs = clockNs(CLOCK_REALTIME);
    BlockInfo info;
    // The samples are counted where they lie, to the frame; what the input saw beyond them goes
    // with the block.
    const std::uint32_t shown = fm::platform::countOverloadedFrames(samples, frames);
    info.hiddenOverload = overloaded > shown ? overloaded - shown : 0;
    info.epoch = epoch_.load(std::memory_order_relaxed);
    info.input = input_.load(std::memory_order_relaxed);
    const bool restart = info.epoch != streamEpoch_ || info.input != streamInput_;
    streamEpoch_ = info.epoch;
    streamInput_ = info.input;
    if (restart) {
        pendingLostFrames_ = 0;  // lost from a stream that ended (counted): not this one's
    }
    const bool overflowed = overflows > overflowsSeen_;  // a new unit counts from 0 again
    overflowsSeen_ = overflows;
    const StreamClock::Stamp stamp =
        clock_.block(monoNs, wallNs, frames, restart, overflowed, info.input == InputKind::Mic);
    info.endTimeNs = stamp.endTimeNs;
    info.lostFrames = pendingLostFrames_ + stamp.lostFrames;
    info.clockStepNs = pendingClockStepNs_ + stamp.clockStepNs;
    lostFrames_.fetch_add(stamp.lostFrames, std::memory_order_relaxed);
    framesFed_.fetch_add(frames, std::memory_order_relaxed);
    if (!ring_.push(samples, frames, info, sampleRate_)) {
        framesDropped_.fetch_add(frames, std::memory_order_relaxed);
        lostFrames_.fetch_add(frames, std::memory_order_relaxed);
        pendingLostFrames_ = info.lostFrames + frames;
        pendingClockStepNs_ = info.clockStepNs;
        framesMeasured_.fetch_add(frames, std::memory_order_release);  // nothing left to wait for
        return;
    }
    pendingLostFrames_ = 0;
    pendingClockStepNs_ = 0;
    // Woken every few blocks rather than every one: each wake-up costs more than measuring a
    // block, and the screen reads the levels ten times a second anyway.
    if (++blocksSinceWake_ >= blocksPerWake_.load(std::memory_order_relaxed)) {
        blocksSinceWake_ = 0;
        ::sem_post(&wake_);
    }
}

void Measurement::wake() {
    ::sem_post(&wake_);
}

void Measurement::run() {
    while (true) {
        // The blocks of a wake-up not yet called (an input that stopped, a slow start) are
        // measured at the latest when the wait runs out.
        timespec deadline{};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        // Many blocks to a wake-up make a wait of seconds: the nanoseconds stay below one.
        deadline.tv_nsec += kWaitPerBlockNs * blocksPerWake_.load(std::memory_order_relaxed);
        deadline.tv_sec += deadline.tv_nsec / 1000000000L;
        deadline.tv_nsec %= 1000000000L;
        while (::sem_clockwait(&wake_, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
        }
        // The observer is loaded for each block, so that setObserver() waits for one at most.
        while (const BlockRing::Slot* slot = ring_.front()) {
            observing_.store(true);
            measureSlot(*slot, observer_.load());
            observing_.store(false);
            const std::uint32_t frames = slot->frames;
            ring_.pop();
            framesMeasured_.fetch_add(frames, std::memory_order_release);
        }
        // An input that stopped with nothing measured after it.
        observing_.store(true);
        followEpoch(epoch_.load(std::memory_order_relaxed), observer_.load());
        observing_.store(false);
        if (stopping_.load(std::memory_order_relaxed)) {
            return;
        }
    }
}

void Measurement::followEpoch(std::uint32_t epoch, MeasurementObserver* observer) {
    // Epochs only grow; a block fed just before a stop that is measured after it was seen is
    // measured as the start of what follows.
    if (static_cast<std::int32_t>(epoch - measuredEpoch_) <= 0) {
        return;
    }
    // The input stopped since the last block: what it left of a second is not a second.
    measuredEpoch_ = epoch;
    meter_.discardPartialSecond();
    secondLostFrames_ = 0;
    secondClockStepNs_ = 0;
    bands_.takeIntervalEnergy();
    if (micCorrection_) {
        micCorrection_->forget();
    }
    if (observer != nullptr) {
        observer->inputStopped();
    }
}

void Measurement::measureSlot(const BlockRing::Slot& slot, MeasurementObserver* observer) {
    followEpoch(slot.info.epoch, observer);
    secondLostFrames_ += slot.info.lostFrames;
    secondClockStepNs_ += slot.info.clockStepNs;
    const float* samples =
        micCorrection_ ? micCorrection_->apply(slot.samples, slot.frames) : slot.samples;
    std::uint32_t left = slot.frames;
    while (left > 0) {
        // Spans end where the ticks do (a second ends with its tenth tick).
        const auto span =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(left, meter_.framesToTickEnd()));
        meter_.process(samples, span, left == slot.frames ? slot.info.hiddenOverload : 0);
        bands_.process(samples, span);
        // The observer is told the time of the span's last frame.
        BlockInfo spanInfo = slot.info;
        spanInfo.endTimeNs -= std::llround(static_cast<double>(left - span) / sampleRate_ * 1e9);
        if (observer != nullptr) {
            observer->measured(samples, span, framesMeasuredHere_, spanInfo);
        }
        framesMeasuredHere_ += span;
        samples += span;
        left -= span;
        SoundLevelMeter::ClosedTick tick;
        if (meter_.takeClosedTick(&tick) && observer != nullptr) {
            observer->tick(tick, framesMeasuredHere_, spanInfo);
        }
        SoundLevelMeter::ClosedSecond closed;
        if (meter_.takeClosedSecond(&closed)) {
            const std::int64_t closedAt =
                slot.info.endTimeNs - std::llround(static_cast<double>(left) / sampleRate_ * 1e9);
            closeSecond(closed, closedAt, slot.info.input);
        }
    }
    publishBands();
}

void Measurement::publishBands() {
    constexpr auto r = std::memory_order_release;
    const std::uint64_t seq = bandSequence_.load(std::memory_order_relaxed);
    bandSequence_.store(seq + 1, std::memory_order_relaxed);
    for (int b = 0; b < kBandCount; ++b) {
        bandFast_[static_cast<std::size_t>(b)].store(bands_.fastMeanSquare(b), r);
        bandEnergy_[static_cast<std::size_t>(b)].store(bands_.energy(b), r);
    }
    bandFrames_.store(bands_.frames(), r);
    bandSequence_.store(seq + 2, std::memory_order_release);
}

BandLevels Measurement::bandLevels() const {
    constexpr auto a = std::memory_order_acquire;
    BandLevels levels;
    while (true) {
        const std::uint64_t before = bandSequence_.load(a);
        for (std::size_t b = 0; b < kBandCount; ++b) {
            levels.fastMeanSquare[b] = bandFast_[b].load(a);
            levels.energy[b] = bandEnergy_[b].load(a);
        }
        levels.frames = bandFrames_.load(a);
        if ((before & 1u) == 0 && bandSequence_.load(std::memory_order_relaxed) == before) {
            return levels;
        }
        std::this_thread::yield();
    }
}

void Measurement::closeSecond(const SoundLevelMeter::ClosedSecond& closed, std::int64_t closedAtNs,
                              InputKind input) {
    SecondRecord r;
    r.closedAt = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(closedAtNs)));
    r.input = input;
    r.meanSquareA = closed.meanSquareA;
    r.meanSquareC = closed.meanSquareC;
    r.meanSquareZ = closed.meanSquareZ;
    r.maxMeanSquareAF = closed.maxMeanSquareAF;
    r.minMeanSquareAF = closed.minMeanSquareAF;
    r.peakC = closed.peakC;
    r.tickMeanSquareAF = closed.tickMeanSquareAF;
    r.overloadSamples = closed.overloadSamples;
    r.lostFrames = secondLostFrames_;
    r.lostSeconds = static_cast<double>(secondLostFrames_) / sampleRate_;
    r.clockStepSeconds = static_cast<double>(secondClockStepNs_) / 1e9;
    secondLostFrames_ = 0;
    secondClockStepNs_ = 0;
    const std::array<double, kBandCount> bandEnergy = bands_.takeIntervalEnergy();
    for (std::size_t b = 0; b < kBandCount; ++b) {
        r.bandMeanSquare[b] = bandEnergy[b] / static_cast<double>(meter_.framesPerSecond());
    }
    // The demo signal is never calibrated, whatever the meter holds.
    r.calibrated = input != InputKind::Demo && meter_.calibrated();
    r.calibrationOffsetDb = r.calibrated ? meter_.calibrationOffsetDb() : 0.0;
    if (!seconds_.push(r)) {
        secondsDropped_.fetch_add(1, std::memory_order_relaxed);
    }
}

bool Measurement::takeSecond(SecondRecord* out) {
    return seconds_.pop(*out);
}

bool Measurement::idle() const {
    return framesMeasured_.load(std::memory_order_acquire) ==
           framesFed_.load(std::memory_order_relaxed);
}

void Measurement::settle() {
    const std::uint64_t fed = framesFed_.load(std::memory_order_relaxed);
    wake();
    while (framesMeasured_.load(std::memory_order_acquire) < fed) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

Measurement& measurement() {
    static Measurement instance;
    return instance;
}

SoundLevelMeter& soundLevelMeter() {
    return measurement().meter();
}

SoundLevelSnapshot readSoundLevels() {
    return measurement().meter().read();
}

}  // namespace fm::measure
