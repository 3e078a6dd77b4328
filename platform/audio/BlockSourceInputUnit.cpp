#include "platform/audio/BlockSourceInputUnit.h"

#include <algorithm>
#include <chrono>

#include "platform/cpu/VectorState.h"

namespace fm::platform {

namespace {
// At most this much of a paced input comes at once after a delay: the measurement's ring holds
// about three seconds.
constexpr std::chrono::seconds kLongestCatchUp{2};
}  // namespace

BlockSourceInputUnit::BlockSourceInputUnit(std::unique_ptr<BlockSource> source,
                                           std::uint32_t blockFrames, bool realTimePace)
    : source_(std::move(source)),
      blockFrames_(std::clamp<std::uint32_t>(blockFrames, 1, kMaxFramesPerSlice)),
      realTimePace_(realTimePace) {}

BlockSourceInputUnit::~BlockSourceInputUnit() {
    uninitialize();
}

OSStatus BlockSourceInputUnit::doInitialize() {
    if (!opened_) {
        std::string error;
        if (!source_->open(&error)) {
            setLastError(error);
            return kStatusFileUnreadable;
        }
        opened_ = true;
        block_.assign(blockFrames_, 0.0f);
    }
    return kNoErr;
}

OSStatus BlockSourceInputUnit::doStart() {
    stopRequested_.store(false, std::memory_order_relaxed);
    thread_ = std::thread([this] {
        clearUpperVectorState();
        run();
    });
    return kNoErr;
}

void BlockSourceInputUnit::doStop() {
    stopRequested_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void BlockSourceInputUnit::run() {
    using clock = std::chrono::steady_clock;
    const auto blockDuration = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(static_cast<double>(blockFrames_) / 44100.0));
    auto due = clock::now();
    while (!stopRequested_.load(std::memory_order_relaxed)) {
        const std::uint32_t got = source_->fill(block_.data(), blockFrames_);
        if (got == 0) {
            finished_.store(true, std::memory_order_relaxed);
            reportInputEnd(InputEnd::Ended, "the input ended");
            return;
        }
        if (realTimePace_) {
            // A block is delivered once it has been "captured", as a device would.
            // One held up (the process stopped, the machine busy) catches up with the clock, but
            // not by pouring more than the measurement can hold into it at once: beyond that it
            // goes on from where it is, late.
            due = std::max(due + blockDuration, clock::now() - kLongestCatchUp);
            std::this_thread::sleep_until(due);
            if (stopRequested_.load(std::memory_order_relaxed)) {
                return;
            }
        }
        deliver(block_.data(), got, source_->overloadInLastFill());
        blocks_.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace fm::platform
