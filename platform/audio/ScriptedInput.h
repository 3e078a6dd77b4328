#pragma once
// Test back end: delivers exactly the blocks a test gives it, when the test says so. The test
// keeps the ScriptedInput; every unit made from it (one per engine start) attaches to it while
// it runs. deliverNextBlock() runs the input callback on the calling thread, which then plays
// the audio thread: synchronously from the test, or from a std::thread of the test's own.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/AudioInputUnit.h"

namespace fm::platform {

class ScriptedInput {
  public:
    // Queues a block (any size up to kMaxFramesPerSlice, including empty): 16-bit samples, as a
    // device delivers them, or floats with full scale 1.0. Main thread, while no delivery runs.
    void addBlock(const std::vector<std::int16_t>& samples);
    void addBlock(std::vector<float> samples);
    // The render of queued block `blockIndex` (counted from the first block ever added) fails
    // with `status`.
    void failRenderOf(std::size_t blockIndex, OSStatus status);

    // Calls the running unit's input callback with the next block. False when no unit runs
    // or no block is left (the block then stays queued).
    bool deliverNextBlock();
    // The running unit's input ends (runs out, or is lost) with `reason`; no block follows.
    // False when no unit runs.
    bool endInput(InputEnd end, const char* reason);
    // Delivers every queued block; returns how many were delivered.
    std::size_t deliverAll();

    std::size_t blocksDelivered() const;
    std::size_t blocksQueued() const;
    bool hasRunningUnit() const;

  private:
    friend class ScriptedInputUnit;
    class ScriptedInputUnit* attached_ = nullptr;
    std::vector<std::vector<float>> blocks_;  // 16-bit blocks as s / 32768
    std::vector<OSStatus> failures_;          // per block, kNoErr when the render succeeds
    std::size_t next_ = 0;
    // Held while a block is delivered, so that a unit's stop waits for the callback to end.
    mutable std::mutex deliveryMutex_;
};

class ScriptedInputUnit : public AudioInputUnit {
  public:
    explicit ScriptedInputUnit(std::shared_ptr<ScriptedInput> script);
    ~ScriptedInputUnit() override;

    OSStatus render(AudioUnitRenderActionFlags* ioActionFlags, const AudioTimeStamp* inTimeStamp,
                    std::uint32_t bus, std::uint32_t frames, AudioBufferList* ioData) override;

  protected:
    OSStatus doInitialize() override { return kNoErr; }
    OSStatus doStart() override;
    void doStop() override;
    void doUninitialize() override {}

  private:
    friend class ScriptedInput;
    std::shared_ptr<ScriptedInput> script_;
    OSStatus currentFailure_ = kNoErr;
};

}  // namespace fm::platform
