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

void SecondStream::poll(Clock::time_point now,
                        const std::function<void(const SecondRecord&)>& sink) {
    SecondRecord record;
    while (measurement_.takeSecond(&record)) {
        hand(record, sink);
    }
    const InputKind input = measurement_.input();
    if (hasLevels(input) || !measurement_.idle()) {
        return;
    }
    // Nothing is measured: the wall clock makes the seconds, one after the last.
    while (now >= lastClosedAt_ + std::chrono::seconds(1) + kGrace) {
        SecondRecord empty;
        empty.input = input;
        empty.calibrated = measurement_.meter().calibrated();
        empty.calibrationOffsetDb = measurement_.meter().calibrationOffsetDb();
        empty.closedAt = lastClosedAt_ + std::chrono::seconds(1);
        hand(empty, sink);
    }
}

}  // namespace fm::measure
