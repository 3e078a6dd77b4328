#include "toolkit/Clock.h"

#include <atomic>
#include <chrono>

namespace fm::toolkit {
namespace {

std::atomic<bool> pinned{false};
std::atomic<double> pinnedTime{0.0};

double systemNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

double Clock::now() {
    return pinned.load(std::memory_order_relaxed) ? pinnedTime.load(std::memory_order_relaxed)
                                                  : systemNow();
}

void Clock::setNow(double secondsSince1970) {
    pinnedTime.store(secondsSince1970, std::memory_order_relaxed);
    pinned.store(true, std::memory_order_relaxed);
}

void Clock::advance(double seconds) {
    setNow(now() + seconds);
}

void Clock::useSystemTime() {
    pinned.store(false, std::memory_order_relaxed);
}

}  // namespace fm::toolkit
