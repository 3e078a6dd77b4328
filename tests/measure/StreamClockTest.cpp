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

struct Stream {
    StreamClock clock{44100.0};
    std::int64_t mono = 5'000'000'000;
    std::int64_t offset = kWall;
    std::uint64_t frames = 0, lost = 0;
    StreamClock::Stamp last;
    // A block delivered `afterNs` after the last one.
    void block(std::int64_t afterNs, bool overflowed = false) {
        mono += afterNs;
        last = clock.block(mono, mono + offset, 1024, frames == 0, overflowed, true);
        frames += 1024;
        lost += last.lostFrames;
    }
    // As a sound server delivers: each block once captured, but none before `notBeforeNs`
    // (the program stopped) and, while it catches up, one every 0.5 ms.
    void captured(std::int64_t firstEnd, std::int64_t notBeforeNs) {
        const std::int64_t capturedAt = expectedEnd(firstEnd) + kBlockNs - kWall;
        block(std::max({capturedAt, notBeforeNs, mono + 500'000}) - mono);
    }
    // Where the last block's last frame lies from the start, lost frames included, in ns.
    std::int64_t expectedEnd(std::int64_t firstEnd) const {
        return firstEnd + static_cast<std::int64_t>((frames - 1024 + lost) * 1e9 / 44100.0);
    }
};

TEST(StreamClock, AStallsBacklogKeepsItsCaptureTimesAndLostAudioIsCountedWhereTheDelayStays) {
    Stream r;
    r.block(0);
    const std::int64_t firstEnd = r.last.endTimeNs;
    EXPECT_EQ(firstEnd, r.mono + kWall);
    // Stopped for 8 s after 2 s; the server kept the audio and hands it over at once.
    const std::int64_t resumed = r.mono + 10'000'000'000;
    for (int i = 0; i < 900; ++i) {
        r.captured(firstEnd, i == 86 ? resumed : 0);
        EXPECT_NEAR(r.last.endTimeNs, r.expectedEnd(firstEnd), 1'000'000) << i;
    }
    EXPECT_EQ(r.lost, 0u);

    // Three seconds that never come: counted within two windows, after which the stamps are
    // the clock's again.
    r.block(3'000'000'000 + kBlockNs);
    for (int i = 0; i < 100; ++i) {
        r.block(kBlockNs);
    }
    EXPECT_NEAR(static_cast<double>(r.lost), 3.0 * 44100, 100.0);
    EXPECT_NEAR(r.last.endTimeNs, r.mono + kWall, 1'000'000);

    // The interface says it overflowed: the delay at that block is the gap, at once.
    r.block(500'000'000 + kBlockNs, true);
    EXPECT_NEAR(static_cast<double>(r.last.lostFrames), 0.5 * 44100, 100.0);
    EXPECT_EQ(r.last.clockStepNs, 0);
}

TEST(StreamClock, AWallClockThatStepsIsToldAndTheStampsFollowItNeverTheOtherWay) {
    Stream r;
    for (int i = 0; i < 50; ++i) {
        r.block(kBlockNs);
    }
    const std::int64_t before = r.last.endTimeNs;
    r.offset -= 3600'000'000'000;  // set back an hour
    r.block(kBlockNs);
    EXPECT_EQ(r.last.clockStepNs, -3600'000'000'000);
    EXPECT_NEAR(r.last.endTimeNs - before, kBlockNs - 3600'000'000'000, 1'000'000);
    r.offset += 400'000'000;  // slewed, not stepped: followed without a word
    r.block(kBlockNs);
    EXPECT_EQ(r.last.clockStepNs, 0);
    EXPECT_EQ(r.lost, 0u);

    // A source faster than real time (a file played at once) is stamped as it comes, in order.
    std::int64_t previous = r.last.endTimeNs;
    for (int i = 0; i < 200; ++i) {
        r.mono += 100'000;
        r.last = r.clock.block(r.mono, r.mono + r.offset, 1024, false, false, false);
        EXPECT_GT(r.last.endTimeNs, previous);
        EXPECT_LE(r.last.endTimeNs, r.mono + r.offset);
        previous = r.last.endTimeNs;
    }
}

}  // namespace
}  // namespace fm::measure
