// The event detector on ticks whose levels sit on both sides of its thresholds and its post-roll.
#include <gtest/gtest.h>

#include <vector>

#include "measure/EventDetector.h"

namespace fm::measure {
namespace {

struct Found {
    std::uint64_t start, end;  // frames; end 0 while under way
    EventTrigger trigger;
    bool operator==(const Found&) const = default;
};

constexpr std::uint64_t kTick = 4410;

// Events found in 100 ms ticks of the given largest LAF and C peak.
std::vector<Found> eventsIn(EventDetector detector,
                            const std::vector<std::pair<double, double>>& ticks) {
    std::vector<Found> found;
    std::uint64_t end = 0;
    for (const auto& [laf, peak] : ticks) {
        end += kTick;
        const auto step = detector.tick({end, kTick, laf, peak});
        if (step.started) {
            found.push_back({end - kTick, 0, detector.trigger()});
        }
        if (step.ended) {
            found.back().end = step.endFrame;
        }
    }
    return found;
}

TEST(EventDetector, FiresStrictlyAboveEitherThresholdAndNamesTheTrigger) {
    const EventDetector laf({80.0, std::nullopt}, 1);
    EXPECT_EQ(eventsIn(laf, {{79.9, 200}, {80.0, 200}, {80.01, 0}, {0, 0}, {0, 0}}),
              (std::vector<Found>{{2 * kTick, 4 * kTick, EventTrigger::LAF}}));
    const EventDetector peak({std::nullopt, 100.0}, 1);
    EXPECT_EQ(eventsIn(peak, {{150, 100.0}, {0, 100.01}, {0, 0}}),
              (std::vector<Found>{{kTick, 3 * kTick, EventTrigger::LCpeak}}));
    // Both in one tick: the peak came first.
    EXPECT_EQ(eventsIn(EventDetector({80.0, 100.0}, 0), {{90, 110}, {0, 0}}),
              (std::vector<Found>{{0, kTick, EventTrigger::LCpeak}}));
}

TEST(EventDetector, ATriggerWithinThePostRollExtendsAndOneAfterItStartsAnother) {
    // Three ticks of post-roll: a trigger in its last tick extends; one right after its end
    // starts a new event.
    const EventDetector d({80.0, std::nullopt}, 3);
    EXPECT_EQ(
        eventsIn(d, {{90, 0}, {0, 0}, {0, 0}, {90, 0}, {0, 0}, {0, 0}, {0, 0}, {90, 0}}),
        (std::vector<Found>{{0, 7 * kTick, EventTrigger::LAF}, {7 * kTick, 0, EventTrigger::LAF}}));
    // Without a post-roll an event ends with its last loud tick, and a stop ends one under way.
    EventDetector none({80.0, std::nullopt}, 0);
    EXPECT_EQ(
        eventsIn(none, {{90, 0}, {90, 0}, {0, 0}, {90, 0}}),
        (std::vector<Found>{{0, 2 * kTick, EventTrigger::LAF}, {3 * kTick, 0, EventTrigger::LAF}}));
    none.tick({kTick, kTick, 90, 0});
    EXPECT_TRUE(none.stop());
    EXPECT_FALSE(none.stop());
}

}  // namespace
}  // namespace fm::measure
