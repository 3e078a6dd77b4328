#pragma once
// Captures the loud moments as the measurement goes: follows its samples and ticks on the
// measuring thread (a MeasurementObserver), keeps the seconds before a moment in a ring made at
// the start, finds the moments with an EventDetector (thresholds in the unit the levels are in
// when the tick closes: dB when calibrated, else dBFS), adds up each one's levels and hands its
// clip - the pre-roll, the event and its post-roll, frame for frame the measured samples - to
// the clip writer's thread. No file I/O, no lock and no allocation on the measuring thread.
// Qt-free.
#include <atomic>
#include <cstdint>
#include <memory>

#include "measure/EventDetector.h"
#include "measure/EventValues.h"
#include "measure/MeasurementObserver.h"
#include "measure/SampleHistory.h"
#include "measure/SoundLevels.h"
#include "report/EventClips.h"

namespace fm::report {

class EventCapture : public fm::measure::MeasurementObserver {
  public:
    struct Options {
        fm::measure::EventDetector::Thresholds thresholds;
        double preRollSeconds = 5.0;
        double postRollSeconds = 5.0;  // counted in whole 100 ms ticks
        double sampleRate = 44100.0;
    };

    // `meter` gives the calibration in effect; `clips` takes the clips.
    EventCapture(const Options& options, const fm::measure::SoundLevelMeter& meter,
                 EventClips& clips);

    // The measuring thread.
    void measured(const float* samples, std::uint32_t frames, std::uint64_t firstFrame,
                  const fm::measure::BlockInfo& info) override;
    void tick(const fm::measure::SoundLevelMeter::ClosedTick& tick, std::uint64_t endFrame,
              const fm::measure::BlockInfo& info) override;
    void inputStopped() override;

    // Once the measurement no longer calls it: an event under way ends with what was measured.
    void finish() { inputStopped(); }

    // Any thread: whether an event is being captured now.
    bool underWay() const { return underWay_.load(std::memory_order_relaxed); }
    // Any thread: events whose end the clip writer had no room for (they are not listed).
    std::uint64_t eventsLost() const { return eventsLost_.load(std::memory_order_relaxed); }

  private:
    void handOver(std::uint64_t upTo);
    void endEvent(std::uint64_t endFrame);
    bool calibrated() const;
    double offsetDb() const;
    // The wall time of a frame of the run under way.
    std::int64_t timeOfFrame(std::uint64_t frame) const;

    const fm::measure::SoundLevelMeter& meter_;
    EventClips& clips_;
    double sampleRate_;
    std::uint64_t preRollFrames_;
    std::uint64_t postRollFrames_;  // about: the post-roll is counted in ticks
    fm::measure::EventDetector detector_;
    fm::measure::SampleHistory history_;

    // The measuring thread's own.
    std::uint64_t runStartFrame_ = 0;  // the first frame since the input last stopped
    std::uint64_t measuredEnd_ = 0;    // one past the last frame measured
    std::int64_t measuredEndNs_ = 0;   // and the time of its last frame
    fm::measure::InputKind input_ = fm::measure::InputKind::Mic;
    EventRecord event_;
    std::uint64_t startFrame_ = 0;  // the event's first frame
    bool clipBegun_ = false;
    std::uint64_t sent_ = 0;  // the clip's frames are handed over up to here

    std::atomic<bool> underWay_{false};
    std::atomic<std::uint64_t> eventsLost_{0};
};

}  // namespace fm::report
