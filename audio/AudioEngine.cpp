#include "audio/AudioEngine.h"

namespace fm::audio {

AudioEngine::AudioEngine()
    : renderBuffer_(std::make_unique<std::int16_t[]>(fm::platform::kMaxFramesPerSlice)),
      renderFloatBuffer_(std::make_unique<float[]>(fm::platform::kMaxFramesPerSlice)) {}

AudioEngine::~AudioEngine() {
    // Stop capture before the buffers it writes go away; closing the files keeps what was
    // recorded.
    if (unit_) {
        unit_->uninitialize();
    }
    unit_.reset();
    file_.reset();
    cleanFile_.reset();
}

const fm::platform::AudioInputSource& AudioEngine::inputSource() const {
    return source_ ? *source_ : fm::platform::audioInputSource();
}

void AudioEngine::flushRecordingFile() {
    if (mAudioFileRefClean != nullptr) {
        mAudioFileRefClean->flush();
    }
}

}  // namespace fm::audio
