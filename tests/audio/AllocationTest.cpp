// The audio thread allocates nothing: every operator new on a thread that has raised the flag
// is counted, over 1000 callbacks with the spectrum and the recording running.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "audio/EngineFixture.h"

namespace {

thread_local bool countHere = false;
std::atomic<long> allocationsCounted{0};

void* allocate(std::size_t size) {
    if (countHere) {
        allocationsCounted.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace fm::test {
namespace {

class AllocationTest : public EngineTest {};

TEST_F(AllocationTest, ThousandCallbacksAllocateNothing) {
    start();
    fm::recording::recordingActive.store(1);
    for (int i = 0; i < 1000; ++i) {
        script_->addBlock(rampBlock(i % 3 == 0 ? 940 : 1024, i));
    }
    script_->failRenderOf(500, fm::platform::kStatusNoData);  // the error path too
    // The counter works: an allocation on a counting thread is seen.
    std::thread([] {
        countHere = true;
        delete new int(1);
        countHere = false;
    }).join();
    ASSERT_EQ(allocationsCounted.exchange(0), 1);

    ::testing::internal::CaptureStdout();  // the one render error message
    std::size_t delivered = 0;
    std::thread audio([&] {
        countHere = true;
        delivered = script_->deliverAll();
        countHere = false;
    });
    audio.join();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(delivered, 1000u);
    EXPECT_EQ(allocationsCounted.load(), 0);
    EXPECT_GT(fm::audio::rmsValue.load(), 0.0);
    EXPECT_NE(fm::audio::spectrumPower[0].load(), 0.0f);  // the spectrum ran
    fm::recording::recordingActive.store(0);
    stop();
}

}  // namespace
}  // namespace fm::test
