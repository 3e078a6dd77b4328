#pragma once
// Every second, in order, for the writers: the seconds the measurement closed (counted in
// frames, however late the main thread takes them) and, while there is no input, one record for
// each wall second that passes, so that a log keeps its rows and says why they hold no levels.
// Main thread. Qt-free.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "measure/Measurement.h"
#include "measure/SecondRecord.h"

namespace fm::measure {

class SecondStream {
  public:
    using Clock = std::chrono::system_clock;

    // Seconds without input are counted from `start` on.
    SecondStream(Measurement& measurement, Clock::time_point start);

    // Hands every second due by `now` to `sink`, oldest first, each with its index.
    void poll(Clock::time_point now, const std::function<void(const SecondRecord&)>& sink);
    // The same, with the monotonic clock read beside `now`: a wall clock that steps while there
    // is no input moves the seconds without input to the new time (none are made up to fill a
    // jump forward, none repeat after a jump back), and the first of them says by how much.
    void poll(Clock::time_point now, std::chrono::steady_clock::time_point steadyNow,
              const std::function<void(const SecondRecord&)>& sink);

    // The last record handed out (index 0 before the first).
    const SecondRecord& last() const { return last_; }

  private:
    void hand(SecondRecord record, const std::function<void(const SecondRecord&)>& sink);

    Measurement& measurement_;
    Clock::time_point lastClosedAt_;
    std::uint64_t index_ = 0;
    SecondRecord last_;
    // The wall clock's offset from the monotonic one at the last poll that read both.
    std::optional<Clock::duration> offset_;
    Clock::duration pendingStep_{};
};

}  // namespace fm::measure
