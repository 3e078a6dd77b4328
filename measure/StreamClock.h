#pragma once
// The time of captured audio, from the stream's own frame count: a block's frames are stamped
// where they lie in the stream since its start, read against the monotonic clock at the start,
// and given as wall time through the wall clock's current offset from the monotonic one. So a
// stall that delivers seconds of audio at once still stamps each at the time it was captured,
// and a wall clock that steps is seen (the offset jumps) rather than followed blindly. Gaps in
// the stream (audio the interface lost) are told apart from a late delivery by the delay that
// stays once the backlog is drained. Audio thread: no lock, no allocation. Qt-free.
#include <cstdint>

namespace fm::measure {

class StreamClock {
  public:
    // An offset between the clocks that changes by this much at once is a step of the wall clock.
    static constexpr std::int64_t kStepNs = 1'000'000'000;
    // A delay that stays above this for two windows in a row is audio lost before the block.
    static constexpr std::int64_t kLossNs = 250'000'000;

    explicit StreamClock(double sampleRate) : rate_(sampleRate) {}

    struct Stamp {
        std::int64_t endTimeNs = 0;    // the wall time of the block's last frame
        std::uint64_t lostFrames = 0;  // frames found missing just before the block
        std::int64_t clockStepNs = 0;  // the wall clock stepped by this much (0: it did not)
    };
    // One block of `frames`, delivered now (`monoNs`, `wallNs`). `restart`: a new stream, whose
    // gap from the last is no loss. `overflowed`: the interface says input was lost since the
    // last block. `countLoss`: a lasting delay is lost audio (a device) rather than a source
    // that paused (a file, the demo).
    Stamp block(std::int64_t monoNs, std::int64_t wallNs, std::uint32_t frames, bool restart,
                bool overflowed, bool countLoss);

  private:
    std::int64_t framesNs(std::uint64_t frames) const;

    double rate_;
    bool started_ = false;
    std::int64_t anchorMonoNs_ = 0;  // the monotonic time of the stream's frame 0
    std::uint64_t position_ = 0;     // frames since then, lost ones included
    std::int64_t offsetNs_ = 0;      // wall minus monotonic, as last seen
    // The smallest delay of the blocks in the window under way, and of the one before.
    std::int64_t windowStartNs_ = 0;
    std::int64_t windowMinLagNs_ = 0;
    std::int64_t previousMinLagNs_ = 0;
};

}  // namespace fm::measure
