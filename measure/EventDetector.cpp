#include "measure/EventDetector.h"

namespace fm::measure {

const char* eventTriggerName(EventTrigger trigger) {
    return trigger == EventTrigger::LCpeak ? "LCpeak" : "LAF";
}

EventDetector::EventDetector(Thresholds thresholds, int postRollTicks)
    : thresholds_(thresholds), postRollTicks_(postRollTicks < 0 ? 0 : postRollTicks) {}

EventDetector::Step EventDetector::tick(const Tick& tick) {
    const bool peak = thresholds_.peakDb && tick.peakDb > *thresholds_.peakDb;
    const bool laf = thresholds_.lafDb && tick.lafMaxDb > *thresholds_.lafDb;
    Step step;
    if (laf || peak) {
        if (!active_) {
            active_ = true;
            step.started = true;
            startFrame_ = tick.endFrame - tick.frames;
            // Within one tick the peak fired first: LAF lags the sound by its time constant.
            trigger_ = peak ? EventTrigger::LCpeak : EventTrigger::LAF;
        }
        step.inEvent = true;
        quietTicksLeft_ = postRollTicks_;
        lastEndFrame_ = tick.endFrame;
        return step;
    }
    if (!active_) {
        return step;
    }
    if (quietTicksLeft_ == 0) {
        // No post-roll: the event ended with the tick before this one.
        active_ = false;
        step.ended = true;
        step.endFrame = lastEndFrame_;
        return step;
    }
    step.inEvent = true;
    lastEndFrame_ = tick.endFrame;
    if (--quietTicksLeft_ == 0) {
        active_ = false;
        step.ended = true;
        step.endFrame = tick.endFrame;
    }
    return step;
}

bool EventDetector::stop() {
    const bool was = active_;
    active_ = false;
    return was;
}

}  // namespace fm::measure
