#include "monitor/Liveness.h"

namespace fm::monitor {

void Liveness::observe(const fm::measure::SecondRecord& newest, bool inputDelivers,
                       Clock::time_point now) {
    if (!inputDelivers) {
        progress_ = now;
    } else if (!delivered_) {
        progress_ = now;  // the input is back: its first second is a second away
    } else if (fm::measure::hasLevels(newest.input) && newest.index > newestMeasured_) {
        newestMeasured_ = newest.index;
        progress_ = now;
    }
    delivered_ = inputDelivers;
}

}  // namespace fm::monitor
