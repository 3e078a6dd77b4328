#include "measure/StreamClock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace fm::measure {

namespace {

constexpr std::int64_t kWindowNs = 1'000'000'000;
// Delays that differ by less than this in two windows are the same delay, not a backlog
// draining (which shrinks by most of a window's length from one to the next).
constexpr std::int64_t kSettledNs = 50'000'000;
// Smaller drifts of the device's clock against the computer's are left alone.
constexpr std::int64_t kDriftNs = 20'000'000;
constexpr std::int64_t kNoLag = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::int64_t StreamClock::framesNs(std::uint64_t frames) const {
    return std::llround(static_cast<double>(frames) / rate_ * 1e9);
}

StreamClock::Stamp StreamClock::block(std::int64_t monoNs, std::int64_t wallNs,
                                      std::uint32_t frames, bool restart, bool overflowed,
                                      bool countLoss) {
    Stamp stamp;
    const std::int64_t offset = wallNs - monoNs;
    if (!started_ || restart) {
        started_ = true;
        anchorMonoNs_ = monoNs - framesNs(frames);
        position_ = 0;
        windowStartNs_ = monoNs;
        windowMinLagNs_ = kNoLag;
        previousMinLagNs_ = 0;
    } else if (std::llabs(offset - offsetNs_) >= kStepNs) {
        stamp.clockStepNs = offset - offsetNs_;
    }
    // Followed always: a clock slewed by NTP moves the stamps with it.
    offsetNs_ = offset;

    // How long after its capture the block arrived; never negative (the first block's own delay
    // is unknown, and a source faster than real time is stamped as it comes).
    std::int64_t lag = monoNs - (anchorMonoNs_ + framesNs(position_ + frames));
    if (lag < -kDriftNs) {
        anchorMonoNs_ += lag;
        lag = 0;
    }
    std::uint64_t lost = 0;
    if (overflowed) {
        // The interface dropped what it could not hold: the whole delay is the gap.
        lost = std::max<std::uint64_t>(
            1,
            static_cast<std::uint64_t>(std::llround(std::max<std::int64_t>(lag, 0) * rate_ / 1e9)));
        windowMinLagNs_ = kNoLag;
        previousMinLagNs_ = 0;
        windowStartNs_ = monoNs;
    } else {
        windowMinLagNs_ = std::min(windowMinLagNs_, lag);
        if (monoNs - windowStartNs_ >= kWindowNs) {
            const std::int64_t min = windowMinLagNs_;
            const bool settled = std::llabs(previousMinLagNs_ - min) < kSettledNs;
            std::int64_t taken = 0;
            if (settled && min > kLossNs && previousMinLagNs_ > kLossNs && countLoss) {
                lost = static_cast<std::uint64_t>(std::llround(min * rate_ / 1e9));
                taken = min;
            } else if (settled && std::llabs(min) > kDriftNs) {
                anchorMonoNs_ += min;  // the device's clock runs slow against the computer's
                taken = min;
            }
            previousMinLagNs_ = min - taken;
            windowMinLagNs_ = kNoLag;
            windowStartNs_ = monoNs;
        }
    }
    position_ += lost;
    stamp.lostFrames = lost;
    const std::int64_t endMono = anchorMonoNs_ + framesNs(position_ + frames);
    position_ += frames;
    stamp.endTimeNs = endMono + offsetNs_;
    return stamp;
}

}  // namespace fm::measure
