#include "platform/audio/RtAudioInputUnit.h"

#include <algorithm>

namespace fm::platform {
namespace {

// Pulse first: it is what desktops (and PipeWire) offer, and what the tests' server provides.
std::vector<RtAudio::Api> candidateApis() {
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
    input.nChannels = 1;
    input.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.streamName = "fieldmeter";
    unsigned frames = blockFrames_;
    try {
        found.rtaudio->openStream(nullptr, &input, RTAUDIO_SINT16, 44100, &frames, &onAudio, this,
                                  &options);
    } catch (const RtAudioError& e) {
        setLastError(e.getMessage());
        return kStatusDeviceFailed;
    }
    rtaudio_ = std::move(found.rtaudio);
    return kNoErr;
}

OSStatus RtAudioInputUnit::doStart() {
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
    try {
        if (rtaudio_ && rtaudio_->isStreamRunning()) {
            rtaudio_->stopStream();
        }
        if (rtaudio_ && rtaudio_->isStreamOpen()) {
            rtaudio_->closeStream();
        }
    } catch (const RtAudioError&) {
    }
    rtaudio_.reset();
}

int RtAudioInputUnit::onAudio(void* /*output*/, void* input, unsigned frames, double /*time*/,
                              RtAudioStreamStatus /*status*/, void* user) {
    auto* self = static_cast<RtAudioInputUnit*>(user);
    if (input != nullptr) {
        self->deliver(static_cast<const std::int16_t*>(input), frames);
    }
    return 0;
}

}  // namespace fm::platform
