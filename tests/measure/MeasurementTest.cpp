// The measurement between the audio thread and the writers: every second fed comes out once, in
// order, with its own levels, while other threads load the machine; an input that stops leaves
// no mixed second behind, and the wall clock fills the seconds without input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "measure/Decibels.h"
#include "measure/Measurement.h"
#include "measure/SecondStream.h"

namespace fm::measure {
namespace {

using namespace std::chrono_literals;

// One second of a 1 kHz sine whose level is `db` dBFS, in 1024-frame blocks.
std::vector<std::vector<float>> secondAt(double db) {
    const double amplitude = std::sqrt(2.0 * dbToMeanSquare(db));
    std::vector<std::vector<float>> blocks;
    for (int at = 0; at < 44100; at += 1024) {
        std::vector<float> block(static_cast<std::size_t>(std::min(1024, 44100 - at)));
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] =
                static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * (at + i) / 44100.0));
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

TEST(Measurement, EverySecondFedComesOutOnceInOrderWhileTheMachineIsBusy) {
    Measurement m;
    m.start();
    m.setInput(InputKind::Mic);
    std::atomic<bool> done{false};
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i) {
        load.emplace_back([&] {
            while (!done.load()) {
            }
        });
    }
    // Fed at the pace of a device: a block every 23 ms, each second 3 dB below the last.
    std::thread audio([&] {
        auto due = std::chrono::steady_clock::now();
        for (int s = 0; s < 3; ++s) {
            for (const auto& block : secondAt(-10.0 - 3.0 * s)) {
                due += std::chrono::microseconds(block.size() * 1000000 / 44100);
                std::this_thread::sleep_until(due);
                m.feed(block.data(), static_cast<std::uint32_t>(block.size()));
            }
        }
    });
    audio.join();
    done.store(true);
    for (auto& t : load) {
        t.join();
    }
    m.settle();
    EXPECT_EQ(m.framesDropped(), 0u);
    SecondRecord r;
    for (int s = 0; s < 3; ++s) {
        ASSERT_TRUE(m.takeSecond(&r)) << s;
        EXPECT_NEAR(meanSquareToDb(r.meanSquareZ), -10.0 - 3.0 * s, 0.01) << s;
        EXPECT_EQ(r.input, InputKind::Mic);
    }
    EXPECT_FALSE(m.takeSecond(&r));
}

TEST(Measurement, AStoppedInputLeavesNoMixedSecondAndTheClockFillsTheSecondsWithout) {
    Measurement m;
    m.start();
    m.setInput(InputKind::File);
    const auto loud = secondAt(-6.0);
    for (int k = 0; k < 2; ++k) {
        for (std::size_t b = 0; b < loud.size() / (k == 0 ? 1 : 2); ++b) {
            m.feed(loud[b].data(), static_cast<std::uint32_t>(loud[b].size()));
        }
    }
    m.settle();
    const auto t0 = SecondStream::Clock::now();
    SecondStream stream(m, t0 - 5s);
    std::vector<SecondRecord> seen;
    auto collect = [&](const SecondRecord& r) { seen.push_back(r); };

    // The file ends half a second into its second second: that half is not a second.
    m.setInput(InputKind::Ended);
    stream.poll(t0, collect);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].input, InputKind::File);
    EXPECT_EQ(seen[0].index, 1u);
    const auto measuredAt = seen[0].closedAt;
    stream.poll(measuredAt + 1200ms, collect);
    EXPECT_EQ(seen.size(), 1u);  // not before the grace after its end
    stream.poll(measuredAt + 3300ms, collect);
    ASSERT_EQ(seen.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(seen[i].input, InputKind::Ended);
        EXPECT_EQ(seen[i].index, i + 1);
        EXPECT_EQ(seen[i].closedAt, measuredAt + std::chrono::seconds(i));
    }

    // Measuring again: the next second holds only what came after, at its own level.
    m.setInput(InputKind::File);
    for (const auto& block : secondAt(-30.0)) {
        m.feed(block.data(), static_cast<std::uint32_t>(block.size()));
    }
    m.settle();
    stream.poll(SecondStream::Clock::now(), collect);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[4].input, InputKind::File);
    EXPECT_NEAR(meanSquareToDb(seen[4].meanSquareZ), -30.0, 0.01);
}

TEST(Measurement, AWallClockThatStepsWithoutInputMovesItsSecondsNeverFillingTheJump) {
    Measurement m;
    const auto t0 = SecondStream::Clock::now();
    const auto s0 = std::chrono::steady_clock::now();
    SecondStream stream(m, t0);
    std::vector<SecondRecord> seen;
    auto collect = [&](const SecondRecord& r) { seen.push_back(r); };
    stream.poll(t0 + 2300ms, s0 + 2300ms, collect);
    ASSERT_EQ(seen.size(), 2u);
    // Put right a year forward (a machine that booted in 1970), then set back an hour: one second
    // each, at the new time, saying by how much.
    const auto year = std::chrono::hours(24 * 365);
    stream.poll(t0 + year + 3300ms, s0 + 3300ms, collect);
    stream.poll(t0 + year - 1h + 4300ms, s0 + 4300ms, collect);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].closedAt, t0 + year + 3s);
    EXPECT_NEAR(seen[2].clockStepSeconds, 365 * 86400.0, 1e-3);
    EXPECT_EQ(seen[3].closedAt, t0 + year - 1h + 4s);
    EXPECT_NEAR(seen[3].clockStepSeconds, -3600.0, 1e-3);
}

}  // namespace
}  // namespace fm::measure
