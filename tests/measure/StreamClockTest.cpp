// Blocks stamped from the stream's frame count: a stall's backlog keeps its capture times, audio
// that never came is counted where the delay stays, and a wall clock that steps is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "measure/StreamClock.h"

namespace fm::measure {
namespace {

constexpr std::int64_t kBlockNs = 1024LL * 1'000'000'000 / 44100;  // 23.2 ms
constexpr std::int64_t kWall = 1'796'000'000'000'000'000;          // wall minus monotonic

TEST(StreamClock, ABacklogKeepsItsCaptureTimesLostAudioIsCountedAndAStepIsTold) {
    StreamClock clock(44100.0);
    std::int64_t mono = 5'000'000'000, offset = kWall;
    std::uint64_t frames = 0, lost = 0;
    StreamClock::Stamp last;
    auto block = [&](std::int64_t afterNs, bool overflowed = false, bool device = true) {
        mono += afterNs;
        last = clock.block(mono, mono + offset, 1024, frames == 0, overflowed, device);
        frames += 1024;
        lost += last.lostFrames;
    };
    block(0);
    const std::int64_t first = last.endTimeNs;
    auto expected = [&] { return first + std::int64_t((frames - 1024 + lost) * 1e9 / 44100); };
    // Each block once captured, none while the program is stopped (8 s, from 2 s on), then the
    // server's backlog one every 0.5 ms: every block keeps its capture time.
    for (int i = 0; i < 900; ++i) {
        const std::int64_t captured = expected() + kBlockNs - kWall;
        block(std::max({captured, i == 86 ? mono + 8'000'000'000 : 0, mono + 500'000}) - mono);
        ASSERT_NEAR(last.endTimeNs, expected(), 1'000'000) << i;
    }
    EXPECT_EQ(lost, 0u);
    // Three seconds that never come: counted within two windows; then the clock's time again.
    for (int i = 0; i < 100; ++i) {
        block(kBlockNs + (i == 0 ? 3'000'000'000 : 0));
    }
    EXPECT_NEAR(double(lost), 3.0 * 44100, 100.0);
    EXPECT_NEAR(last.endTimeNs, mono + kWall, 1'000'000);
    // The interface says it overflowed: the delay at that block is the gap, at once.
    block(500'000'000 + kBlockNs, true);
    EXPECT_NEAR(double(last.lostFrames), 0.5 * 44100, 100.0);
    // Set back an hour: told, and followed; slewed by 0.4 s: followed without a word.
    offset -= 3600'000'000'000;
    block(kBlockNs);
    EXPECT_EQ(last.clockStepNs, -3600'000'000'000);
    EXPECT_NEAR(last.endTimeNs, mono + offset, 1'000'000);
    offset += 400'000'000;
    block(kBlockNs);
    EXPECT_EQ(last.clockStepNs, 0);
    // A file played faster than real time is stamped as it comes, never backwards.
    for (int i = 0; i < 200; ++i) {
        const std::int64_t before = last.endTimeNs;
        block(100'000, false, false);
        EXPECT_GT(last.endTimeNs, before);
        EXPECT_LE(last.endTimeNs, mono + offset);
    }
}

}  // namespace
}  // namespace fm::measure
