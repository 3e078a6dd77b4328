#include "measure/SecondStream.h"

namespace fm::measure {

namespace {

// A second without input is made a little after its end, so that a measured second still on its
// way from the measuring thread is not overtaken by one made up here.
constexpr auto kGrace = std::chrono::milliseconds(250);

}  // namespace

SecondStream::SecondStream(Measurement& measurement, Clock::time_point start)
    : measurement_(measurement), lastClosedAt_(start) {}

void SecondStream::hand(SecondRecord record, const std::function<void(const SecondRecord&)>& sink) {
    record.index = ++index_;
    lastClosedAt_ = record.closedAt;
    last_ = record;
    sink(record);
}

void SecondStream::poll(Clock::time_point now, std::chrono::steady_clock::time_point steadyNow,
                        const std::function<void(const SecondRecord&)>& sink) {
    const Clock::duration offset = now.time_since_epoch() - steadyNow.time_since_epoch();
    if (offset_) {
        const Clock::duration step = offset - *offset_;
        if (step >= std::chrono::seconds(1) || step <= -std::chrono::seconds(1)) {
            // Measured seconds carry the steps they saw; the seconds made here follow this one.
            lastClosedAt_ += step;
            pendingStep_ += step;
        }
    }
    offset_ = offset;
    poll(now, sink);
}

void SecondStream::poll(Clock::time_point now,
                        const std::function<void(const SecondRecord&)>& sink) {
    SecondRecord record;
    while (measurement_.takeSecond(&record)) {
        hand(record, sink);
        pendingStep_ = {};
    }
    const InputKind input = measurement_.input();
    if (hasLevels(input) || !measurement_.idle()) {
        pendingStep_ = {};
        return;
    }
    // Nothing is measured: the wall clock makes the seconds, one after the last.
    while (now >= lastClosedAt_ + std::chrono::seconds(1) + kGrace) {
        SecondRecord empty;
        empty.input = input;
        empty.calibrated = measurement_.meter().calibrated();
        empty.calibrationOffsetDb = measurement_.meter().calibrationOffsetDb();
        empty.closedAt = lastClosedAt_ + std::chrono::seconds(1);
        empty.clockStepSeconds = std::chrono::duration<double>(pendingStep_).count();
        pendingStep_ = {};
        hand(empty, sink);
    }
}

}  // namespace fm::measure
