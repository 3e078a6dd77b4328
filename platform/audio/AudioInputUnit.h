#pragma once
// The audio input unit: configured with a stream format and an input callback, then
// initialised and started; from the start until the stop returns, the back end calls the
// callback once per captured block on its audio thread, and the callback copies the block out
// with render() (16-bit) and renderFloat() (the samples as captured, full scale 1.0). Back ends:
// RtAudio capture, a file or the demo signal on a thread of their own, and a scripted unit for
// tests.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/AudioTypes.h"

namespace fm::platform {

enum class AudioUnitScope : std::uint32_t { Global = 0, Input = 1, Output = 2 };

// How capture came to an end by itself while the unit ran: the input ran out (a file played to
// its end) or was lost (the sound server went away, the device vanished).
enum class InputEnd : int { None = 0, Ended = 1, Lost = 2 };

class AudioInputUnit {
  public:
    static constexpr std::uint32_t kInputBus = 1;   // the microphone bus
    static constexpr std::uint32_t kOutputBus = 0;  // the speaker bus: nothing is attached

    virtual ~AudioInputUnit() = default;
    AudioInputUnit(const AudioInputUnit&) = delete;
    AudioInputUnit& operator=(const AudioInputUnit&) = delete;

    // Settings, on the main thread before initialize(). The format of the microphone bus must be
    // the capture format (16-bit signed mono, 44,100 Hz).
    void setEnableIO(AudioUnitScope scope, std::uint32_t element, bool enabled);
    void setStreamFormat(AudioUnitScope scope, std::uint32_t element,
                         const AudioStreamBasicDescription& format);
    void setInputCallback(AURenderCallback callback, void* reference);
    void setShouldAllocateBuffer(bool allocate) { shouldAllocateBuffer_ = allocate; }

    // Main thread. After stop() returns no callback runs any more.
    OSStatus initialize();
    OSStatus start();
    OSStatus stop();
    OSStatus uninitialize();

    // Audio thread, inside the callback: copies the block's first `frames` samples into the
    // list's first buffer as 16-bit samples (x × 32768 rounded to nearest, clipped; see
    // SampleConversion.h). Fails when called outside a callback or for more frames than the block.
    virtual OSStatus render(AudioUnitRenderActionFlags* ioActionFlags,
                            const AudioTimeStamp* inTimeStamp, std::uint32_t bus,
                            std::uint32_t frames, AudioBufferList* ioData);
    // Audio thread, inside the callback, after render() succeeded: the block's first `frames`
    // samples as the back end captured them, full scale 1.0, neither rounded nor clipped; a
    // sample that is not a finite number (NaN, infinity) is given as 0.
    OSStatus renderFloat(std::uint32_t frames, float* out) const;

    // Why the last initialise or start failed, in words (main thread).
    const std::string& lastError() const { return lastError_; }
    bool isRunning() const { return running_.load(std::memory_order_relaxed); }

    // Main thread: whether capture ended by itself since the last start, and why in words
    // (empty while inputEnd() is None). No block follows an end that has been reported.
    InputEnd inputEnd() const { return end_.load(std::memory_order_acquire); }
    std::string inputEndReason() const;
    // Main thread: blocks handed to the callback since the start, to see a stream that has
    // stopped delivering; and to declare such a stream lost (it is then closed without waiting
    // for its thread).
    std::uint64_t deliveries() const { return deliveries_.load(std::memory_order_relaxed); }
    void markLost(const char* reason) { reportInputEnd(InputEnd::Lost, reason); }
    // Any thread: how many times the back end said it lost input (an overflow) since it was made.
    std::uint64_t overflows() const { return overflows_.load(std::memory_order_relaxed); }

  protected:
    AudioInputUnit();

    // Back ends call this on their audio thread for every captured block; blocks larger than
    // kMaxFramesPerSlice reach the callback in pieces. Floats have full scale 1.0; 16-bit
    // samples s are delivered as s / 32768.
    void deliver(const float* samples, std::uint32_t frames);
    void deliver(const std::int16_t* samples, std::uint32_t frames);

    virtual OSStatus doInitialize() = 0;
    virtual OSStatus doStart() = 0;
    virtual void doStop() = 0;  // must return only once no callback runs
    virtual void doUninitialize() = 0;

    void setLastError(std::string text) { lastError_ = std::move(text); }
    // The audio thread, before delivering the block that follows input the back end lost.
    void noteOverflow() { overflows_.fetch_add(1, std::memory_order_relaxed); }

    // Any thread of the back end, without locking or allocating: capture has ended. The first
    // report after a start is kept; later ones are ignored.
    void reportInputEnd(InputEnd end, const char* reason);

  private:
    AURenderCallback callback_ = nullptr;
    void* reference_ = nullptr;
    AudioStreamBasicDescription inputBusFormat_{};
    bool inputEnabled_ = false;
    bool shouldAllocateBuffer_ = true;
    bool initialized_ = false;
    std::atomic<bool> running_{false};
    std::string lastError_;

    std::atomic<std::uint64_t> deliveries_{0};
    std::atomic<std::uint64_t> overflows_{0};
    std::atomic<InputEnd> end_{InputEnd::None};
    std::atomic<bool> endClaimed_{false};
    char endReason_[256] = {};

    // Calls the callback with one piece of at most kMaxFramesPerSlice frames.
    void deliverPiece(const float* samples, std::uint32_t frames);

    // Audio thread only: the block being delivered, and room for a 16-bit block's floats (made
    // with the unit, so that the audio thread never allocates).
    const float* current_ = nullptr;
    std::uint32_t currentFrames_ = 0;
    double sampleTime_ = 0.0;
    std::unique_ptr<float[]> converted_;
};

}  // namespace fm::platform
