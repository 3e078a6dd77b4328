// The watchdog's judgement: measured seconds must keep coming while an input runs.
#include "monitor/Liveness.h"

#include <gtest/gtest.h>

namespace fm::monitor {
namespace {

using std::chrono::seconds;

fm::measure::SecondRecord second(std::uint64_t index, fm::measure::InputKind input) {
    fm::measure::SecondRecord s;
    s.index = index;
    s.input = input;
    return s;
}

TEST(Liveness, AMeasuringThreadThatStopsClosingSecondsIsNotAliveAfterFiveSeconds) {
    using fm::measure::InputKind;
    const auto t0 = Liveness::Clock::time_point{} + seconds(100);
    Liveness live(t0);
    for (int i = 1; i <= 3; ++i) {
        live.observe(second(i, InputKind::Mic), true, t0 + seconds(i));
    }
    // The same second seen again and again: the thread is stuck.
    live.observe(second(3, InputKind::Mic), true, t0 + seconds(8));
    EXPECT_TRUE(live.alive(t0 + seconds(8)));
    EXPECT_FALSE(live.alive(t0 + seconds(9)));
    // Seconds without levels do not count as measured ones while the input is said to run.
    live.observe(second(4, InputKind::Lost), true, t0 + seconds(9));
    EXPECT_FALSE(live.alive(t0 + seconds(9)));
    // An input that stopped (a lost microphone tried again) keeps the service alive; its return
    // gives the first second time to come.
    live.observe(second(5, InputKind::Lost), false, t0 + seconds(20));
    EXPECT_TRUE(live.alive(t0 + seconds(24)));
    live.observe(second(6, InputKind::Lost), true, t0 + seconds(24));
    EXPECT_TRUE(live.alive(t0 + seconds(29)));
    EXPECT_FALSE(live.alive(t0 + seconds(30)));
}

}  // namespace
}  // namespace fm::monitor
