#include "platform/audio/RtAudioInputUnit.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/audio/SampleConversion.h"
#include "platform/cpu/VectorState.h"

namespace fm::platform {
namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library prints its own lines while RtAudio looks through the capture devices; the
// program says in one line what came of it instead. Set before any RtAudio object is made.
void quietAlsa() {
    snd_lib_error_set_handler(ignoreAlsaMessage);
}

// Pulse first: it is what desktops (and PipeWire) offer, and what the tests' server provides.
std::vector<RtAudio::Api> candidateApis() {
    quietAlsa();
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    std::vector<RtAudio::Api> ordered;
    if (std::find(compiled.begin(), compiled.end(), RtAudio::LINUX_PULSE) != compiled.end()) {
        ordered.push_back(RtAudio::LINUX_PULSE);
    }
    for (RtAudio::Api api : compiled) {
        if (api != RtAudio::LINUX_PULSE && api != RtAudio::RTAUDIO_DUMMY) {
            ordered.push_back(api);
        }
    }
    return ordered;
}

struct FoundDevice {
    std::unique_ptr<RtAudio> rtaudio;
    unsigned index = 0;
};

// The device to capture from: by name, else the API's default input. Throws RtAudioError.
bool findDevice(const std::string& name, FoundDevice* found, std::string* error) {
    std::string lastError;
    for (RtAudio::Api api : candidateApis()) {
        try {
            auto rt = std::make_unique<RtAudio>(api);
            rt->showWarnings(false);
            const unsigned count = rt->getDeviceCount();
            if (count == 0) {
                lastError = RtAudio::getApiDisplayName(api) + ": no audio device";
                continue;
            }
            if (name.empty()) {
                const unsigned index = rt->getDefaultInputDevice();
                if (index < count && rt->getDeviceInfo(index).inputChannels > 0) {
                    found->rtaudio = std::move(rt);
                    found->index = index;
                    return true;
                }
                for (unsigned i = 0; i < count; ++i) {
                    if (rt->getDeviceInfo(i).inputChannels > 0) {
                        found->rtaudio = std::move(rt);
                        found->index = i;
                        return true;
                    }
                }
                lastError = RtAudio::getApiDisplayName(api) + ": no input device";
                continue;
            }
            for (unsigned i = 0; i < count; ++i) {
                const RtAudio::DeviceInfo info = rt->getDeviceInfo(i);
                if (info.inputChannels > 0 && info.name.find(name) != std::string::npos) {
                    found->rtaudio = std::move(rt);
                    found->index = i;
                    return true;
                }
            }
            lastError = "no capture device named \"" + name + "\"";
        } catch (const RtAudioError& e) {
            lastError = e.getMessage();
        }
    }
    if (error != nullptr) {
        *error = lastError.empty() ? "no audio API is available" : lastError;
    }
    return false;
}

// RtAudio's error callback carries no user data. It runs on the stream's own thread right
// after our callback there (a failed read), or on another thread of the back end (a server
// shutting the stream down); the unit is found through the one or the other.
thread_local void* tCallbackLink = nullptr;
std::atomic<RtAudioInputUnit*> gOpenUnit{nullptr};

}  // namespace

std::vector<CaptureDevice> listCaptureDevices(std::string* error) {
    std::vector<CaptureDevice> devices;
    for (RtAudio::Api api : candidateApis()) {
        try {
            RtAudio rt(api);
            rt.showWarnings(false);
            const unsigned count = rt.getDeviceCount();
            for (unsigned i = 0; i < count; ++i) {
                const RtAudio::DeviceInfo info = rt.getDeviceInfo(i);
                if (info.probed && info.inputChannels > 0) {
                    devices.push_back({RtAudio::getApiName(api), info.name, info.inputChannels,
                                       info.isDefaultInput});
                }
            }
        } catch (const RtAudioError& e) {
            if (error != nullptr) {
                *error = e.getMessage();
            }
        }
    }
    return devices;
}

RtAudioInputUnit::RtAudioInputUnit(std::string deviceName, unsigned blockFrames)
    : deviceName_(std::move(deviceName)), blockFrames_(blockFrames) {}

RtAudioInputUnit::~RtAudioInputUnit() {
    uninitialize();
}

OSStatus RtAudioInputUnit::doInitialize() {
    return openStream();
}

OSStatus RtAudioInputUnit::openStream() {
    FoundDevice found;
    std::string error;
    if (!findDevice(deviceName_, &found, &error)) {
        setLastError(error);
        return kStatusNoDevice;
    }
    RtAudio::StreamParameters input;
    input.deviceId = found.index;
    input.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.streamName = "fieldmeter";
    unsigned frames = blockFrames_;
    auto link = std::make_shared<StreamLink>();
    link->unit.store(this);
    try {
        const RtAudio::DeviceInfo info = found.rtaudio->getDeviceInfo(found.index);
        // Floats keep what a 24-bit or float device captures. Only where the device (or its
        // sound server) offers them itself: RtAudio's own conversion from 16 bits is not the
        // exact s / 32768 that keeps the recording sample-exact.
        const RtAudioFormat format =
            (info.nativeFormats & RTAUDIO_FLOAT32) != 0 ? RTAUDIO_FLOAT32 : RTAUDIO_SINT16;
        floatStream_ = format == RTAUDIO_FLOAT32;
        // Every channel, so that one overloaded under a quiet other is seen before the mix; a
        // device that refuses them all is captured in mono. Only where the count is the
        // source's own (PulseAudio's): ALSA's plug devices offer 32, mostly empty, whose mean
        // would be far too low; there the device mixes.
        channels_ = found.rtaudio->getCurrentApi() == RtAudio::LINUX_PULSE
                        ? std::clamp(info.inputChannels, 1u, kMostChannels)
                        : 1;
        for (;;) {
            input.nChannels = channels_;
            try {
                found.rtaudio->openStream(nullptr, &input, format, 44100, &frames, &onAudio,
                                          link.get(), &options, &onError);
                break;
            } catch (const RtAudioError&) {
                if (channels_ == 1) {
                    throw;
                }
                channels_ = 1;
                frames = blockFrames_;
            }
        }
    } catch (const RtAudioError& e) {
        setLastError(e.getMessage());
        return kStatusDeviceFailed;
    }
    mixedFrames_ = channels_ > 1 ? frames : 0;
    mixed_ = channels_ > 1 ? std::make_unique<float[]>(frames) : nullptr;
    rtaudio_ = std::move(found.rtaudio);
    link_ = std::move(link);
    gOpenUnit.store(this, std::memory_order_release);
    return kNoErr;
}

OSStatus RtAudioInputUnit::doStart() {
    nothingReadYet_ = true;
    readFailed_ = false;
    failedReadsInARow_ = 0;
    if (!rtaudio_) {
        if (const OSStatus status = openStream(); status != kNoErr) {
            return status;
        }
    }
    try {
        rtaudio_->startStream();
    } catch (const RtAudioError& e) {
        setLastError(e.getMessage());
        return kStatusDeviceFailed;
    }
    return kNoErr;
}

void RtAudioInputUnit::doStop() {
    // stopStream() can return while a callback is still running; closing joins RtAudio's
    // callback thread, so afterwards none runs. A later start opens the stream again.
    doUninitialize();
}

void RtAudioInputUnit::doUninitialize() {
    closeStream();
    RtAudioInputUnit* self = this;
    gOpenUnit.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

void RtAudioInputUnit::closeStream() {
    if (!rtaudio_) {
        return;
    }
    if (inputEnd() == InputEnd::Lost) {
        // The stream's thread may be stuck in the server's library for good, holding the lock
        // that stopping and closing take. Cut it off from this unit (a callback running now is
        // let finish; it cannot be stuck there), then close the stream on a thread of its own.
        link_->unit.store(nullptr);
        while (link_->inCallback.load()) {
            std::this_thread::yield();
        }
        std::thread([rtaudio = std::move(rtaudio_), link = link_] {
            try {
                if (rtaudio->isStreamOpen()) {
                    rtaudio->closeStream();
                }
            } catch (const RtAudioError&) {
            }
        }).detach();
        link_.reset();
        return;
    }
    try {
        if (rtaudio_->isStreamRunning()) {
            rtaudio_->stopStream();
        }
        if (rtaudio_->isStreamOpen()) {
            rtaudio_->closeStream();
        }
    } catch (const RtAudioError&) {
    }
    rtaudio_.reset();
    link_.reset();
}

int RtAudioInputUnit::onAudio(void* /*output*/, void* input, unsigned frames, double /*time*/,
                              RtAudioStreamStatus status, void* user) {
    // RtAudio's thread is made where the stream opens, with that thread's vector state.
    clearUpperVectorState();
    auto* link = static_cast<StreamLink*>(user);
    tCallbackLink = link;
    link->inCallback.store(true);
    RtAudioInputUnit* self = link->unit.load();
    const int result =
        self != nullptr ? self->onBlock(input, frames, (status & RTAUDIO_INPUT_OVERFLOW) != 0) : 2;
    link->inCallback.store(false);
    return result;
}

int RtAudioInputUnit::onBlock(void* input, unsigned frames, bool overflowed) {
    if (inputEnd() != InputEnd::None) {
        return 2;  // aborts the stream; its thread then waits until the stream is closed
    }
    // RtAudio calls back first and reads the next block afterwards: the first call of a stream
    // finds a buffer that was never filled (zeros that were never heard), and a read that
    // failed left the last block in the buffer, which must not be taken again. A stream whose
    // reads keep failing (a server gone: they fail at once, over and over) is lost; one
    // overrun is not.
    if (nothingReadYet_) {
        nothingReadYet_ = false;
        return 0;
    }
    const bool readFailed = readFailed_;
    readFailed_ = false;
    failedReadsInARow_ = readFailed ? failedReadsInARow_ + 1 : 0;
    if (failedReadsInARow_ >= kFailedReadsForLoss) {
        reportInputEnd(InputEnd::Lost, readError_);
        return 2;
    }
    if (input == nullptr) {
        reportInputEnd(InputEnd::Lost, "the capture stream delivered no input");
        return 2;
    }
    if (overflowed) {
        noteOverflow();  // counted before the block, so that the gap is placed before it
    }
    if (readFailed) {
        return 0;
    }
    if (channels_ > 1) {
        deliverMix(input, frames);
    } else if (floatStream_) {
        deliver(static_cast<const float*>(input), frames);
    } else {
        deliver(static_cast<const std::int16_t*>(input), frames);
    }
    return 0;
}

void RtAudioInputUnit::deliverMix(const void* input, unsigned frames) {
    const float share = 1.0f / static_cast<float>(channels_);
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(frames - done, mixedFrames_);
        std::uint32_t overloaded = 0;
        for (unsigned i = 0; i < n; ++i) {
            float sum = 0.0f;
            bool over = false;
            for (unsigned c = 0; c < channels_; ++c) {
                const std::size_t at = static_cast<std::size_t>(done + i) * channels_ + c;
                const float x = floatStream_
                                    ? static_cast<const float*>(input)[at]
                                    : sampleToFloat(static_cast<const std::int16_t*>(input)[at]);
                sum += x;
                over = over || isOverloaded(x);
            }
            mixed_[i] = sum * share;
            overloaded += over ? 1u : 0u;
        }
        deliver(mixed_.get(), n, overloaded);
        done += n;
    }
}

void RtAudioInputUnit::onError(RtAudioError::Type /*type*/, const std::string& text) {
    if (auto* link = static_cast<StreamLink*>(tCallbackLink); link != nullptr) {
        // The stream's own thread, after a read: judged at the next callback.
        link->inCallback.store(true);
        if (RtAudioInputUnit* unit = link->unit.load(); unit != nullptr) {
            std::strncpy(unit->readError_, text.c_str(), sizeof unit->readError_ - 1);
            unit->readError_[sizeof unit->readError_ - 1] = '\0';
            unit->readFailed_ = true;
        }
        link->inCallback.store(false);
        return;
    }
    // Another thread of the back end gave up on the stream (a server shutting it down).
    if (RtAudioInputUnit* unit = gOpenUnit.load(std::memory_order_acquire); unit != nullptr) {
        unit->reportInputEnd(InputEnd::Lost, text.c_str());
    }
}

}  // namespace fm::platform
