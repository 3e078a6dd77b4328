#pragma once
// Input unit that delivers a BlockSource (file or demo signal) in fixed-size blocks on a thread
// of its own, which is then the audio thread: at real-time pace (one block every
// blockFrames / 44,100 s) or as fast as the callback takes them.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/BlockSource.h"

namespace fm::platform {

class BlockSourceInputUnit : public AudioInputUnit {
  public:
    BlockSourceInputUnit(std::unique_ptr<BlockSource> source, std::uint32_t blockFrames,
                         bool realTimePace);
    ~BlockSourceInputUnit() override;

    // True once the source has run out (a file played to its end).
    bool finished() const { return finished_.load(std::memory_order_relaxed); }
    std::uint64_t blocksDelivered() const { return blocks_.load(std::memory_order_relaxed); }

  protected:
    OSStatus doInitialize() override;
    OSStatus doStart() override;
    void doStop() override;
    void doUninitialize() override {}

  private:
    void run();

    std::unique_ptr<BlockSource> source_;
    std::uint32_t blockFrames_;
    bool realTimePace_;
    bool opened_ = false;
    std::vector<float> block_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    std::atomic<std::uint64_t> blocks_{0};
};

}  // namespace fm::platform
