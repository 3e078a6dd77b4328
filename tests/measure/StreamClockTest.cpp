// Blocks stamped from the stream's frame count: a stall's backlog keeps its capture times, audio
// that never came is counted where the delay stays, and a wall clock that steps is told.
#include <gtest/gtest.h>

#include <algorithm>

#include "measure/StreamClock.h"

namespace fm::measure {
namespace {

TEST(StreamClock, ABacklogKeepsItsCaptureTimesLostAudioIsCountedAndAStepIsTold) {
    constexpr std::int64_t kBlockNs = 1024LL * 1'000'000'000 / 44100, kWall = 1'796'000'000e9;
    StreamClock clock(44100.0);
    std::int64_t mono = 5'000'000'000, offset = kWall, first = 0;
    std::uint64_t frames = 0, lost = 0;
    StreamClock::Stamp last;
    auto block = [&](std::int64_t atNs, bool overflowed = false) {
        mono = std::max(atNs, mono + 500'000);  // a backlog comes a block every 0.5 ms
        last = clock.block(mono, mono + offset, 1024, frames == 0, overflowed, true);
        first = frames == 0 ? last.endTimeNs : first;
        frames += 1024;
        lost += last.lostFrames;
    };
    auto captured = [&] { return first + std::int64_t((frames - 1024 + lost) * 1e9 / 44100); };
    // Each block once captured, none while the program is stopped for 8 s: every block keeps
    // its capture time.
    block(0);
    for (int i = 1; i < 900; ++i) {
        block(i == 86 ? mono + 8'000'000'000 : captured() + kBlockNs - kWall);
        ASSERT_NEAR(last.endTimeNs, captured(), 1'000'000) << i;
    }
    EXPECT_EQ(lost, 0u);
    // Three seconds that never come: counted within two windows; then the clock's time again.
    for (int i = 0; i < 100; ++i) {
        block(mono + kBlockNs + (i == 0 ? 3'000'000'000 : 0));
    }
    EXPECT_NEAR(double(lost), 3.0 * 44100, 100.0);
    EXPECT_NEAR(last.endTimeNs, mono + kWall, 1'000'000);
    // The interface says it overflowed: the delay at that block is the gap, at once.
    block(mono + kBlockNs + 500'000'000, true);
    EXPECT_NEAR(double(last.lostFrames), 0.5 * 44100, 100.0);
    // Set back an hour: told, and followed.
    offset -= 3600'000'000'000;
    block(mono + kBlockNs);
    EXPECT_EQ(last.clockStepNs, -3600'000'000'000);
    EXPECT_NEAR(last.endTimeNs, mono + offset, 1'000'000);
}

}  // namespace
}  // namespace fm::measure
