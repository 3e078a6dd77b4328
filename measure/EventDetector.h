#pragma once
// Finds the loud moments in the measurement's 100 ms ticks. An event starts with the first tick
// whose largest LAF (or whose C peak) is above its threshold; every tick above a threshold keeps
// it going; it ends a post-roll of ticks after the last such tick. A trigger within the post-roll
// extends the event, so events never overlap. Pure logic on the ticks' levels. Qt-free.
#include <cstdint>
#include <optional>

namespace fm::measure {

enum class EventTrigger : std::uint8_t { LAF, LCpeak };

// "LAF" or "LCpeak", as events.csv and the page name them.
const char* eventTriggerName(EventTrigger trigger);

class EventDetector {
  public:
    // Levels above these trigger (strictly above: a level at the threshold does not); a missing
    // one never does. In the unit of the ticks' levels.
    struct Thresholds {
        std::optional<double> lafDb;
        std::optional<double> peakDb;
    };
    // One closed tick: its end in the measurement's frames, its length and its levels.
    struct Tick {
        std::uint64_t endFrame = 0;
        std::uint32_t frames = 0;
        double lafMaxDb = 0.0;  // the largest LAF within it
        double peakDb = 0.0;    // LCpeak within it
    };
    // What a tick did to the event.
    struct Step {
        bool started = false;  // an event starts with this tick's first frame
        bool inEvent = false;  // the tick belongs to the event under way
        bool ended = false;    // the event ended at endFrame (this tick's end, or without a
                               // post-roll the end of the last tick above a threshold)
        std::uint64_t endFrame = 0;
    };

    EventDetector(Thresholds thresholds, int postRollTicks);

    Step tick(const Tick& tick);
    // The input stopped: an event under way ends where the input did. True when one was.
    bool stop();

    bool active() const { return active_; }
    // The event under way (or the last one): its first frame and what started it.
    std::uint64_t startFrame() const { return startFrame_; }
    EventTrigger trigger() const { return trigger_; }

  private:
    Thresholds thresholds_;
    int postRollTicks_;
    bool active_ = false;
    std::uint64_t startFrame_ = 0;
    EventTrigger trigger_ = EventTrigger::LAF;
    int quietTicksLeft_ = 0;
    std::uint64_t lastEndFrame_ = 0;  // the end of the event's latest tick
};

}  // namespace fm::measure
