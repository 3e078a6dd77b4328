// Threads made by a thread whose upper vector halves are in use (Qt's string hashing leaves them
// so) inherit that state, and their SSE arithmetic then runs up to twice as slow. The input's own
// thread starts clean whatever the thread that started it left.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/audio/AudioInputSource.h"
#include "platform/cpu/VectorState.h"

namespace fm::test {
namespace {

using namespace fm::platform;

// What Qt's hashing leaves: a 256-bit register written and no VZEROUPPER after it.
[[gnu::target("avx")]] void leaveUpperHalvesInUse() {
    asm volatile("vcmpps $15, %%ymm1, %%ymm1, %%ymm1" ::: "xmm1");
}

std::atomic<int> stateInCallback{-2};

OSStatus recordState(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, std::uint32_t,
                     std::uint32_t, AudioBufferList*) {
    int expected = -2;
    stateInCallback.compare_exchange_strong(expected, upperVectorStateInUse());
    return kNoErr;
}

TEST(VectorState, TheInputThreadStartsCleanWhenItsMakerWasNot) {
    if (upperVectorStateInUse() < 0) {
        GTEST_SKIP() << "this processor cannot tell which vector state is in use";
    }
    leaveUpperHalvesInUse();
    if (upperVectorStateInUse() != 1) {
        // Some processors (or their hypervisors) never report the upper halves in use.
        GTEST_SKIP() << "this processor does not report the upper halves in use";
    }

    auto unit = makeAudioInputUnit(AudioInputSource::demo());
    unit->setEnableIO(AudioUnitScope::Input, AudioInputUnit::kInputBus, true);
    unit->setStreamFormat(AudioUnitScope::Output, AudioInputUnit::kInputBus, captureFormat());
    unit->setInputCallback(&recordState, nullptr);
    ASSERT_EQ(unit->initialize(), kNoErr);
    ASSERT_EQ(unit->start(), kNoErr);
    while (stateInCallback.load() == -2) {
        std::this_thread::yield();
    }
    unit->stop();
    unit->uninitialize();
    EXPECT_EQ(stateInCallback.load(), 0);

    clearUpperVectorState();
    EXPECT_EQ(upperVectorStateInUse(), 0);
}

}  // namespace
}  // namespace fm::test
