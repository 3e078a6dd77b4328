#pragma once
// Live capture through RtAudio at 44,100 Hz as floats where the device offers them (else 16-bit),
// 1024-frame blocks: a PulseAudio source with every channel (up to eight), mixed to mono (their
// mean) here, where an overload of any one of them is still seen; other devices in mono.
// RtAudio's callback thread is the audio thread. PulseAudio (or
// PipeWire's Pulse server) is preferred; otherwise the first compiled API with an input device.
#include <rtaudio/RtAudio.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioInputUnit.h"

namespace fm::platform {

struct CaptureDevice {
    std::string api;   // "pulse", "alsa", "jack", …
    std::string name;  // as RtAudio reports it
    unsigned inputChannels = 0;
    bool isDefault = false;
};

// Every device with at least one input channel, over the compiled APIs. On failure returns what
// it found and puts the reason into *error.
std::vector<CaptureDevice> listCaptureDevices(std::string* error);

class RtAudioInputUnit : public AudioInputUnit {
  public:
    // deviceName: a device whose name contains it; empty for the default input.
    RtAudioInputUnit(std::string deviceName, unsigned blockFrames);
    ~RtAudioInputUnit() override;

  protected:
    OSStatus doInitialize() override;
    OSStatus doStart() override;
    void doStop() override;
    void doUninitialize() override;

  private:
    // What RtAudio's threads hold of the unit. A lost stream may never come back from the sound
    // server's library (a read stuck for good), so its closing must not be waited for: the
    // stream is handed to a thread of its own to close, and its callbacks find no unit any more.
    struct StreamLink {
        std::atomic<RtAudioInputUnit*> unit{nullptr};
        std::atomic<bool> inCallback{false};
    };

    OSStatus openStream();
    void closeStream();
    static int onAudio(void* output, void* input, unsigned frames, double streamTime,
                       RtAudioStreamStatus status, void* user);
    // A failed stream (the sound server gone, the device unplugged) ends the capture: the unit
    // reports the input as lost, and the stream is stopped at its next callback.
    static void onError(RtAudioError::Type type, const std::string& text);
    int onBlock(void* input, unsigned frames, bool overflowed);
    // A block of several channels, as their mean, with its frames where any was overloaded.
    void deliverMix(const void* input, unsigned frames);

    // Reads that fail this many times in a row mean the stream is lost.
    static constexpr int kFailedReadsForLoss = 8;
    static constexpr unsigned kMostChannels = 8;

    std::string deviceName_;
    unsigned blockFrames_;
    std::unique_ptr<RtAudio> rtaudio_;
    std::shared_ptr<StreamLink> link_;
    bool floatStream_ = false;  // set before the stream opens; RTAUDIO_FLOAT32, else SINT16
    unsigned channels_ = 1;     // interleaved in each block
    // The mono mix of a block of several channels, made when the stream opens.
    std::unique_ptr<float[]> mixed_;
    unsigned mixedFrames_ = 0;
    // The stream's thread only.
    bool nothingReadYet_ = true;
    bool readFailed_ = false;
    int failedReadsInARow_ = 0;
    char readError_[256] = {};
};

}  // namespace fm::platform
