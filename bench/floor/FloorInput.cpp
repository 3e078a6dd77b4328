#include "bench/floor/FloorInput.h"

#include <cmath>

namespace fm::bench {

using namespace fm::platform;

AudioInputSource chooseFloorInput(const std::string& input, std::string* note) {
    if (input == "demo") {
        return AudioInputSource::demo();
    }
    std::string why;
    const AudioInputSource wanted =
        input.empty() ? AudioInputSource::microphone() : AudioInputSource::file(input);
    if (canOpenInput(wanted, &why)) {
        return wanted;
    }
    *note = "cannot open " + wanted.describe() + ": " + why + "; playing the demo signal";
    return AudioInputSource::demo();
}

FloorInput::~FloorInput() {
    stop();
}

bool FloorInput::start(const AudioInputSource& source, std::string* error) {
    unit_ = makeAudioInputUnit(source);
    const AudioStreamBasicDescription format = captureFormat();
    unit_->setEnableIO(AudioUnitScope::Input, AudioInputUnit::kInputBus, true);
    unit_->setEnableIO(AudioUnitScope::Output, AudioInputUnit::kOutputBus, true);
    unit_->setStreamFormat(AudioUnitScope::Output, AudioInputUnit::kInputBus, format);
    unit_->setStreamFormat(AudioUnitScope::Input, AudioInputUnit::kOutputBus, format);
    unit_->setInputCallback(&FloorInput::onBlock, this);
    unit_->setShouldAllocateBuffer(false);
    if (unit_->initialize() != kNoErr || unit_->start() != kNoErr) {
        *error = source.describe() + ": " + unit_->lastError();
        unit_.reset();
        return false;
    }
    return true;
}

void FloorInput::stop() {
    if (unit_) {
        unit_->stop();
        unit_->uninitialize();
        unit_.reset();
    }
}

OSStatus FloorInput::onBlock(void* reference, AudioUnitRenderActionFlags* flags,
                             const AudioTimeStamp* time, std::uint32_t, std::uint32_t frames,
                             AudioBufferList*) {
    auto* self = static_cast<FloorInput*>(reference);
    if (frames == 0 || frames > kMaxFramesPerSlice) {
        return kNoErr;
    }
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = 1;
    list.mBuffers[0].mDataByteSize = frames * static_cast<std::uint32_t>(sizeof(std::int16_t));
    list.mBuffers[0].mData = self->samples_.data();
    if (self->unit_->render(flags, time, AudioInputUnit::kInputBus, frames, &list) != kNoErr) {
        return kNoErr;
    }
    // The same sum fieldmeter makes: exact in 64-bit integers.
    std::int64_t sumOfSquares = 0;
    for (std::uint32_t j = 0; j < frames; ++j) {
        const std::int32_t v = self->samples_[j];
        sumOfSquares += v * v;
    }
    self->level_.store(std::sqrt(static_cast<double>(sumOfSquares) / frames),
                       std::memory_order_relaxed);
    self->blocks_.fetch_add(1, std::memory_order_relaxed);
    return kNoErr;
}

}  // namespace fm::bench
