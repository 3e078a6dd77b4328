#include "report/EventCapture.h"

#include <algorithm>
#include <cmath>

#include "measure/Decibels.h"

namespace fm::report {

namespace {

using fm::measure::EventDetector;

// Beyond the pre-roll the ring holds this much, for a clip writer that falls behind briefly.
constexpr double kHistoryMarginSeconds = 2.0;

int ticksOf(double seconds) {
    return static_cast<int>(std::lround(std::clamp(seconds, 0.0, 3600.0) * 10.0));
}

}  // namespace

EventCapture::EventCapture(const Options& options, const fm::measure::SoundLevelMeter& meter,
                           EventClips& clips)
    : meter_(meter),
      clips_(clips),
      sampleRate_(options.sampleRate),
      preRollFrames_(static_cast<std::uint64_t>(
          std::llround(std::max(options.preRollSeconds, 0.0) * options.sampleRate))),
      postRollFrames_(static_cast<std::uint64_t>(ticksOf(options.postRollSeconds)) *
                      static_cast<std::uint64_t>(std::llround(options.sampleRate / 10.0))),
      detector_(options.thresholds, ticksOf(options.postRollSeconds)),
      history_(static_cast<std::size_t>(preRollFrames_) +
               static_cast<std::size_t>(std::llround(kHistoryMarginSeconds * sampleRate_))) {}

bool EventCapture::calibrated() const {
    // The demo signal is never calibrated, whatever the meter holds.
    return input_ != fm::measure::InputKind::Demo && meter_.calibrated();
}

double EventCapture::offsetDb() const {
    return calibrated() ? meter_.calibrationOffsetDb() : 0.0;
}

std::int64_t EventCapture::timeOfFrame(std::uint64_t frame) const {
    const double framesAgo = static_cast<double>(measuredEnd_) - static_cast<double>(frame);
    return measuredEndNs_ - std::llround(framesAgo / sampleRate_ * 1e9);
}

void EventCapture::measured(const float* samples, std::uint32_t frames, std::uint64_t firstFrame,
                            const fm::measure::BlockInfo& info) {
    history_.append(samples, frames, firstFrame);
    measuredEnd_ = firstFrame + frames;
    measuredEndNs_ = info.endTimeNs;
    input_ = info.input;
}

void EventCapture::tick(const fm::measure::SoundLevelMeter::ClosedTick& tick,
                        std::uint64_t endFrame, const fm::measure::BlockInfo& /*info*/) {
    const double offset = offsetDb();
    EventDetector::Tick levels;
    levels.endFrame = endFrame;
    levels.frames = tick.frames;
    levels.lafMaxDb = fm::measure::meanSquareToDb(tick.maxMeanSquareAF, offset);
    levels.peakDb = fm::measure::peakToDb(tick.peakC, offset);
    const EventDetector::Step step = detector_.tick(levels);
    if (step.started) {
        const std::uint64_t start = endFrame - tick.frames;
        event_ = EventRecord{};
        event_.startNs = timeOfFrame(start);
        startFrame_ = start;
        event_.trigger = detector_.trigger();
        // The pre-roll: as much of it as was measured since the input last started.
        const std::uint64_t clipStart =
            std::max({start > preRollFrames_ ? start - preRollFrames_ : std::uint64_t{0},
                      history_.oldestFrame(), runStartFrame_});
        clipBegun_ = clips_.begin(event_.startNs, endFrame - clipStart + postRollFrames_);
        sent_ = clipStart;
        underWay_.store(true, std::memory_order_relaxed);
    }
    if (step.inEvent) {
        event_.values.add(tick);
    }
    if (step.started || step.inEvent || step.ended) {
        handOver(step.ended ? step.endFrame : endFrame);
    }
    if (step.ended) {
        endEvent(step.endFrame);
    }
}

void EventCapture::inputStopped() {
    // The event ends where the input did.
    if (detector_.stop()) {
        handOver(measuredEnd_);
        endEvent(measuredEnd_);
    }
    runStartFrame_ = measuredEnd_;
}

void EventCapture::handOver(std::uint64_t upTo) {
    if (!clipBegun_) {
        sent_ = std::max(sent_, upTo);
        return;
    }
    while (sent_ < upTo) {
        if (sent_ < history_.oldestFrame()) {
            // The writer was behind for longer than the ring holds: those frames are gone.
            event_.missingFrames += history_.oldestFrame() - sent_;
            sent_ = history_.oldestFrame();
            continue;
        }
        const float* samples = nullptr;
        const std::size_t n = history_.piece(sent_, upTo, &samples);
        if (n == 0) {
            return;
        }
        const std::size_t taken = clips_.write(samples, n);
        sent_ += taken;
        if (taken < n) {
            return;  // the queue is full: the rest at the next tick, while the ring holds it
        }
    }
}

void EventCapture::endEvent(std::uint64_t endFrame) {
    if (clipBegun_ && sent_ < endFrame) {
        event_.missingFrames += endFrame - sent_;
    }
    // Its length in frames: the wall clock between blocks is not that exact.
    event_.endNs = event_.startNs +
                   std::llround(static_cast<double>(endFrame - startFrame_) / sampleRate_ * 1e9);
    event_.values.calibrated = calibrated();
    event_.values.calibrationOffsetDb = offsetDb();
    event_.clipBegun = clipBegun_;
    // Over before the writer hears of it: whoever sees the finished clip sees no event under way.
    underWay_.store(false, std::memory_order_relaxed);
    if (!clips_.end(event_)) {
        eventsLost_.fetch_add(1, std::memory_order_relaxed);
    }
    clipBegun_ = false;
}

}  // namespace fm::report
