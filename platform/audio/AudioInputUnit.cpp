#include "platform/audio/AudioInputUnit.h"

#include <algorithm>
#include <cstring>

#include "platform/audio/SampleConversion.h"

namespace fm::platform {

AudioInputUnit::AudioInputUnit() : converted_(std::make_unique<float[]>(kMaxFramesPerSlice)) {}

void AudioInputUnit::setEnableIO(AudioUnitScope scope, std::uint32_t element, bool enabled) {
    if (scope == AudioUnitScope::Input && element == kInputBus) {
        inputEnabled_ = enabled;
    }
    // The speaker bus may be enabled, but nothing is attached to it, so it stays silent.
}

void AudioInputUnit::setStreamFormat(AudioUnitScope scope, std::uint32_t element,
                                     const AudioStreamBasicDescription& format) {
    // The microphone bus hands its data out on its output side.
    if (scope == AudioUnitScope::Output && element == kInputBus) {
        inputBusFormat_ = format;
    }
}

void AudioInputUnit::setInputCallback(AURenderCallback callback, void* reference) {
    callback_ = callback;
    reference_ = reference;
}

OSStatus AudioInputUnit::initialize() {
    if (initialized_) {
        return kNoErr;
    }
    if (!inputEnabled_ || callback_ == nullptr) {
        setLastError("the microphone bus is not enabled or has no input callback");
        return kStatusParamErr;
    }
    if (!isCaptureFormat(inputBusFormat_)) {
        setLastError("only 16-bit signed mono PCM at 44,100 Hz is captured");
        return kStatusFormatNotSupported;
    }
    const OSStatus status = doInitialize();
    initialized_ = status == kNoErr;
    return status;
}

OSStatus AudioInputUnit::start() {
    if (!initialized_) {
        if (lastError_.empty()) {
            setLastError("the unit is not initialised");
        }
        return kStatusNotInitialized;
    }
    if (running_.load(std::memory_order_relaxed)) {
        return kNoErr;
    }
    sampleTime_ = 0.0;
    endReason_[0] = '\0';
    endClaimed_.store(false, std::memory_order_relaxed);
    end_.store(InputEnd::None, std::memory_order_relaxed);
    running_.store(true, std::memory_order_relaxed);
    const OSStatus status = doStart();
    if (status != kNoErr) {
        running_.store(false, std::memory_order_relaxed);
    }
    return status;
}

OSStatus AudioInputUnit::stop() {
    if (running_.load(std::memory_order_relaxed)) {
        doStop();
        running_.store(false, std::memory_order_relaxed);
    }
    return kNoErr;
}

OSStatus AudioInputUnit::uninitialize() {
    stop();
    if (initialized_) {
        doUninitialize();
        initialized_ = false;
    }
    return kNoErr;
}

void AudioInputUnit::reportInputEnd(InputEnd end, const char* reason) {
    if (end == InputEnd::None || endClaimed_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    std::strncpy(endReason_, reason != nullptr ? reason : "", sizeof endReason_ - 1);
    endReason_[sizeof endReason_ - 1] = '\0';
    end_.store(end, std::memory_order_release);
}

std::string AudioInputUnit::inputEndReason() const {
    return inputEnd() == InputEnd::None ? std::string() : std::string(endReason_);
}

void AudioInputUnit::deliverPiece(const float* samples, std::uint32_t frames,
                                  std::uint32_t overloaded) {
    current_ = samples;
    currentFrames_ = frames;
    currentOverload_ = overloaded;
    AudioUnitRenderActionFlags flags = 0;
    const AudioTimeStamp stamp{sampleTime_, 0};
    callback_(reference_, &flags, &stamp, kInputBus, frames, nullptr);
    sampleTime_ += frames;
    current_ = nullptr;
    currentFrames_ = 0;
    currentOverload_ = 0;
}

void AudioInputUnit::deliver(const float* samples, std::uint32_t frames,
                             std::optional<std::uint32_t> overloaded) {
    std::uint32_t done = 0;
    do {
        const std::uint32_t piece = std::min(frames - done, kMaxFramesPerSlice);
        const std::uint32_t counted = overloaded ? (done == 0 ? *overloaded : 0u)
                                                 : countOverloadedFrames(samples + done, piece);
        deliverPiece(samples + done, piece, counted);
        done += piece;
    } while (done < frames);
    deliveries_.fetch_add(1, std::memory_order_relaxed);
}

void AudioInputUnit::deliver(const std::int16_t* samples, std::uint32_t frames) {
    std::uint32_t done = 0;
    do {
        const std::uint32_t piece = std::min(frames - done, kMaxFramesPerSlice);
        samplesToFloat(samples + done, converted_.get(), piece);
        deliverPiece(converted_.get(), piece, countOverloadedFrames(converted_.get(), piece));
        done += piece;
    } while (done < frames);
    deliveries_.fetch_add(1, std::memory_order_relaxed);
}

OSStatus AudioInputUnit::render(AudioUnitRenderActionFlags* /*ioActionFlags*/,
                                const AudioTimeStamp* /*inTimeStamp*/, std::uint32_t bus,
                                std::uint32_t frames, AudioBufferList* ioData) {
    if (bus != kInputBus || ioData == nullptr || ioData->mNumberBuffers < 1 ||
        ioData->mBuffers[0].mData == nullptr ||
        ioData->mBuffers[0].mDataByteSize < frames * sizeof(std::int16_t)) {
        return kStatusParamErr;
    }
    if (current_ == nullptr) {
        return kStatusNoData;
    }
    if (frames > currentFrames_) {
        return kStatusTooManyFrames;
    }
    samplesToInt16(current_, static_cast<std::int16_t*>(ioData->mBuffers[0].mData), frames);
    return kNoErr;
}

OSStatus AudioInputUnit::renderFloat(std::uint32_t frames, float* out) const {
    if (out == nullptr) {
        return kStatusParamErr;
    }
    if (current_ == nullptr) {
        return kStatusNoData;
    }
    if (frames > currentFrames_) {
        return kStatusTooManyFrames;
    }
    for (std::uint32_t i = 0; i < frames; ++i) {
        // A sample that is no finite number (a broken float file) would stay in the level
        // engine's filters for good: it is measured as silence. v - v is 0 only when v is finite.
        const float v = current_[i];
        out[i] = v - v == 0.0f ? v : 0.0f;
    }
    return kNoErr;
}

}  // namespace fm::platform
