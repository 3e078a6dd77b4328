#include "platform/audio/AudioInputSource.h"

#include <filesystem>

#include "platform/audio/BlockSourceInputUnit.h"
#include "platform/audio/DemoSignal.h"
#include "platform/audio/FileBlockSource.h"

namespace fm::platform {
namespace {

AudioInputSource& processSource() {
    static AudioInputSource source;
    return source;
}

}  // namespace

AudioInputSource AudioInputSource::microphone(std::string device) {
    AudioInputSource s;
    s.kind = AudioInputKind::Microphone;
    s.captureDevice = std::move(device);
    return s;
}

AudioInputSource AudioInputSource::file(std::string path, DeliveryPace pace, bool loop) {
    AudioInputSource s;
    s.kind = AudioInputKind::File;
    s.path = std::move(path);
    s.pace = pace;
    s.loop = loop;
    return s;
}

AudioInputSource AudioInputSource::demo(DeliveryPace pace) {
    AudioInputSource s;
    s.kind = AudioInputKind::Demo;
    s.pace = pace;
    return s;
}

AudioInputSource AudioInputSource::scripted(std::shared_ptr<ScriptedInput> script) {
    AudioInputSource s;
    s.kind = AudioInputKind::Scripted;
    s.script = std::move(script);
    return s;
}

std::string AudioInputSource::describe() const {
    switch (kind) {
        case AudioInputKind::Microphone:
            return captureDevice.empty() ? "microphone" : "microphone " + captureDevice;
        case AudioInputKind::File:
            return "file " + std::filesystem::path(path).filename().string();
        case AudioInputKind::Demo:
            return "demo input";
        case AudioInputKind::Scripted:
            return "scripted input";
    }
    return "input";
}

void setAudioInputSource(const AudioInputSource& source) {
    processSource() = source;
}

const AudioInputSource& audioInputSource() {
    return processSource();
}

std::unique_ptr<AudioInputUnit> makeAudioInputUnit(const AudioInputSource& source) {
    const bool realTime = source.pace == DeliveryPace::RealTime;
    switch (source.kind) {
        case AudioInputKind::Microphone:
            return std::make_unique<RtAudioInputUnit>(source.captureDevice, source.blockFrames);
        case AudioInputKind::File:
            return std::make_unique<BlockSourceInputUnit>(
                std::make_unique<FileBlockSource>(source.path, source.loop, source.channel),
                source.blockFrames, realTime);
        case AudioInputKind::Demo:
            return std::make_unique<BlockSourceInputUnit>(std::make_unique<DemoSignal>(),
                                                          source.blockFrames, realTime);
        case AudioInputKind::Scripted:
            return std::make_unique<ScriptedInputUnit>(
                source.script ? source.script : std::make_shared<ScriptedInput>());
    }
    return nullptr;
}

bool canOpenInput(const AudioInputSource& source, std::string* reason) {
    if (source.kind == AudioInputKind::Demo || source.kind == AudioInputKind::Scripted) {
        return true;
    }
    std::unique_ptr<AudioInputUnit> unit = makeAudioInputUnit(source);
    unit->setEnableIO(AudioUnitScope::Input, AudioInputUnit::kInputBus, true);
    unit->setStreamFormat(AudioUnitScope::Output, AudioInputUnit::kInputBus, captureFormat());
    unit->setInputCallback(
        [](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, std::uint32_t, std::uint32_t,
           AudioBufferList*) -> OSStatus { return kNoErr; },
        nullptr);
    const OSStatus status = unit->initialize();
    if (status != kNoErr && reason != nullptr) {
        *reason = unit->lastError();
    }
    unit->uninitialize();
    return status == kNoErr;
}

}  // namespace fm::platform
