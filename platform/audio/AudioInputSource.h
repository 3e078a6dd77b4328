#pragma once
// Which input the audio engine captures from, chosen before the engine starts:
//   microphone  live capture through RtAudio (captureDevice: part of a device name, or empty
//               for the default input);
//   file        an audio file played as captured input (path; any file libsndfile reads, at
//               any rate, resampled to 44,100 Hz; the mono mix of its channels, or the one
//               `channel` names; played once, or looped);
//   demo        the generated demo signal (DemoSignal.h);
//   scripted    tests: exactly the blocks a ScriptedInput is given, delivered when told.
// File and demo are delivered in blocks of blockFrames (1024 by default) on a thread of their
// own, at real-time pace or as fast as the engine takes them.
//
// The program sets the choice process-wide with setAudioInputSource(); an AudioEngine may also
// carry its own (AudioEngine::setAudioInputSource), which wins.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/RtAudioInputUnit.h"
#include "platform/audio/ScriptedInput.h"

namespace fm::platform {

enum class AudioInputKind { Microphone, File, Demo, Scripted };
enum class DeliveryPace { RealTime, AsFastAsPossible };

struct AudioInputSource {
    AudioInputKind kind = AudioInputKind::Microphone;
    std::string captureDevice;
    std::string path;
    DeliveryPace pace = DeliveryPace::RealTime;
    std::uint32_t blockFrames = 1024;
    bool loop = false;
    int channel = 0;  // a file's channel to play, from 1; 0 = the mean of all its channels
    std::shared_ptr<ScriptedInput> script;

    static AudioInputSource microphone(std::string device = {});
    static AudioInputSource file(std::string path, DeliveryPace pace = DeliveryPace::RealTime,
                                 bool loop = false);
    static AudioInputSource demo(DeliveryPace pace = DeliveryPace::RealTime);
    static AudioInputSource scripted(std::shared_ptr<ScriptedInput> script);

    // A few words for titles and messages: "microphone", "demo input", "file input.wav", …
    std::string describe() const;
};

// The process-wide choice (main thread). Starts as the default microphone.
void setAudioInputSource(const AudioInputSource& source);
const AudioInputSource& audioInputSource();

// A new, unconfigured unit for the source.
std::unique_ptr<AudioInputUnit> makeAudioInputUnit(const AudioInputSource& source);

// Whether the source can be opened now: for the microphone, a capture stream is opened and
// closed again; for a file, the file is opened. On false, *reason says why in one line.
bool canOpenInput(const AudioInputSource& source, std::string* reason);
inline bool canOpenMicrophone(const std::string& device, std::string* reason) {
    return canOpenInput(AudioInputSource::microphone(device), reason);
}

}  // namespace fm::platform
