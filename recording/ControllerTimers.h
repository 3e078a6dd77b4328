#pragma once
// The controller's named timers (main thread).
#include <memory>

#include "app/ScheduledTimer.h"

// The repeating 1.0 s timer that advances the elapsed-time counter.
extern std::shared_ptr<fm::app::ScheduledTimer> counterTimer;
// The repeating 1/30 s timer that polls the gyroscope.
extern std::shared_ptr<fm::app::ScheduledTimer> gyroTimer;
