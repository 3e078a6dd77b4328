#pragma once
// The floor's input: the source fieldmeter would capture from, opened through the same back end
// (fm::platform's input units), and the raw level (RMS) of each block taken in the input
// callback. Nothing else happens on the audio thread. Qt-free.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/audio/AudioInputSource.h"

namespace fm::bench {

// The source for --input as fieldmeter chooses it: "demo", a readable file, or the microphone;
// like fieldmeter it falls back to the demo signal (saying why in *note) when the file or the
// microphone cannot be opened.
fm::platform::AudioInputSource chooseFloorInput(const std::string& input, std::string* note);

class FloorInput {
  public:
    FloorInput() = default;
    ~FloorInput();
    FloorInput(const FloorInput&) = delete;
    FloorInput& operator=(const FloorInput&) = delete;

    // Configures, initialises and starts the unit; false with *error set when it cannot.
    bool start(const fm::platform::AudioInputSource& source, std::string* error);
    // Returns once no callback runs any more.
    void stop();

    double level() const { return level_.load(std::memory_order_relaxed); }
    std::uint64_t blocks() const { return blocks_.load(std::memory_order_relaxed); }

  private:
    static fm::platform::OSStatus onBlock(void* reference,
                                          fm::platform::AudioUnitRenderActionFlags* flags,
                                          const fm::platform::AudioTimeStamp* time,
                                          std::uint32_t bus, std::uint32_t frames,
                                          fm::platform::AudioBufferList* data);

    std::unique_ptr<fm::platform::AudioInputUnit> unit_;
    std::atomic<double> level_{0.0};
    std::atomic<std::uint64_t> blocks_{0};
    // The audio thread's block, made before the start so that the callback never allocates.
    std::array<std::int16_t, fm::platform::kMaxFramesPerSlice> samples_{};
};

}  // namespace fm::bench
