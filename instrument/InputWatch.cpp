#include "instrument/InputWatch.h"

namespace fm::instrument {

using fm::platform::AudioInputKind;
using fm::platform::InputEnd;

void InputWatch::poll(Clock::time_point now) {
    if (retrying_) {
        if (now < nextRetry_) {
            return;
        }
        if (!engine_.restartCapture()) {
            engine_.stopMeasuring();
            nextRetry_ = now + kRetryEvery;
            return;
        }
        retrying_ = false;
        measuring_ = true;
        say_(engine_.inputSource().describe() + " is back; measuring again");
        return;
    }
    fm::platform::AudioInputUnit* unit = engine_.mAudioUnit;
    if (!measuring_ || unit == nullptr) {
        return;
    }
    if (seenStart_ != engine_.engineStarts()) {
        seenStart_ = engine_.engineStarts();
        deliveries_ = unit->deliveries();
        deliveriesChangedAt_ = now;
    }
    if (engine_.inputSource().kind == AudioInputKind::Microphone && unit->isRunning()) {
        if (unit->deliveries() != deliveries_) {
            deliveries_ = unit->deliveries();
            deliveriesChangedAt_ = now;
        } else if (now - deliveriesChangedAt_ > kSilentStreamLimit) {
            unit->markLost("no sound has arrived for 3 seconds");
        }
    }
    if (unit->inputEnd() != InputEnd::None) {
        stopped(now);
    }
}

void InputWatch::stopped(Clock::time_point now) {
    fm::platform::AudioInputUnit* unit = engine_.mAudioUnit;
    const InputEnd end = unit->inputEnd();
    const std::string what = engine_.inputSource().describe();
    engine_.noteInputStopped(end);
    fm::audio::clearSignalMeters();
    measuring_ = false;
    if (end == InputEnd::Ended) {
        say_(what + " ended; no input from now on");
        return;
    }
    engine_.stopMeasuring();
    if (engine_.inputSource().kind == AudioInputKind::Microphone) {
        retrying_ = true;
        nextRetry_ = now + kRetryEvery;
        say_(what + " lost (" + unit->inputEndReason() + "); trying again every " +
             std::to_string(kRetryEvery.count()) + " seconds");
        return;
    }
    say_(what + " lost (" + unit->inputEndReason() + ")");
}

}  // namespace fm::instrument
