#pragma once
// Whether the measurement is alive, for systemd's watchdog: while an input runs, measured seconds
// must keep coming (a stuck measuring thread stops the pings, and systemd restarts the service);
// while there is no input (a file ended, a microphone lost and tried again), the main loop
// going on is all there is to show. Qt-free.
#include <chrono>
#include <cstdint>

#include "measure/SecondRecord.h"

namespace fm::monitor {

class Liveness {
  public:
    using Clock = std::chrono::steady_clock;
    // A second closes every second; the main thread takes them twice a second.
    static constexpr std::chrono::seconds kLongestGap{5};

    explicit Liveness(Clock::time_point start) : progress_(start) {}

    // Called on every pass of the main loop with the newest second handed to the writers and
    // whether the input delivers now.
    void observe(const fm::measure::SecondRecord& newest, bool inputDelivers,
                 Clock::time_point now);
    bool alive(Clock::time_point now) const { return now - progress_ <= kLongestGap; }

  private:
    Clock::time_point progress_;
    std::uint64_t newestMeasured_ = 0;
    bool delivered_ = true;
};

}  // namespace fm::monitor
