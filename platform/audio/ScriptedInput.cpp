#include "platform/audio/ScriptedInput.h"

#include <stdexcept>

#include "platform/audio/SampleConversion.h"

namespace fm::platform {

void ScriptedInput::addBlock(const std::vector<std::int16_t>& samples) {
    if (samples.size() > kMaxFramesPerSlice) {
        throw std::invalid_argument("scripted block larger than kMaxFramesPerSlice");
    }
    std::vector<float> floats(samples.size());
    samplesToFloat(samples.data(), floats.data(), static_cast<std::uint32_t>(samples.size()));
    addBlock(std::move(floats));
}

void ScriptedInput::addBlock(std::vector<float> samples) {
    if (samples.size() > kMaxFramesPerSlice) {
        throw std::invalid_argument("scripted block larger than kMaxFramesPerSlice");
    }
    std::lock_guard lock(deliveryMutex_);
    blocks_.push_back(std::move(samples));
    failures_.push_back(kNoErr);
}

void ScriptedInput::failRenderOf(std::size_t blockIndex, OSStatus status) {
    std::lock_guard lock(deliveryMutex_);
    if (blockIndex >= failures_.size()) {
        throw std::out_of_range("no scripted block with that index");
    }
    failures_[blockIndex] = status;
}

bool ScriptedInput::deliverNextBlock() {
    std::lock_guard lock(deliveryMutex_);
    if (attached_ == nullptr || next_ >= blocks_.size() ||
        attached_->inputEnd() != InputEnd::None) {
        return false;
    }
    const std::vector<float>& block = blocks_[next_];
    attached_->currentFailure_ = failures_[next_];
    ++next_;
    attached_->deliver(block.data(), static_cast<std::uint32_t>(block.size()));
    attached_->currentFailure_ = kNoErr;
    return true;
}

bool ScriptedInput::endInput(InputEnd end, const char* reason) {
    std::lock_guard lock(deliveryMutex_);
    if (attached_ == nullptr) {
        return false;
    }
    attached_->reportInputEnd(end, reason);
    return true;
}

std::size_t ScriptedInput::deliverAll() {
    std::size_t count = 0;
    while (deliverNextBlock()) {
        ++count;
    }
    return count;
}

std::size_t ScriptedInput::blocksDelivered() const {
    std::lock_guard lock(deliveryMutex_);
    return next_;
}

std::size_t ScriptedInput::blocksQueued() const {
    std::lock_guard lock(deliveryMutex_);
    return blocks_.size() - next_;
}

bool ScriptedInput::hasRunningUnit() const {
    std::lock_guard lock(deliveryMutex_);
    return attached_ != nullptr;
}

ScriptedInputUnit::ScriptedInputUnit(std::shared_ptr<ScriptedInput> script)
    : script_(std::move(script)) {}

ScriptedInputUnit::~ScriptedInputUnit() {
    uninitialize();
}

OSStatus ScriptedInputUnit::doStart() {
    std::lock_guard lock(script_->deliveryMutex_);
    script_->attached_ = this;
    return kNoErr;
}

void ScriptedInputUnit::doStop() {
    // Taking the mutex waits for a delivery in progress to finish.
    std::lock_guard lock(script_->deliveryMutex_);
    if (script_->attached_ == this) {
        script_->attached_ = nullptr;
    }
}

OSStatus ScriptedInputUnit::render(AudioUnitRenderActionFlags* ioActionFlags,
                                   const AudioTimeStamp* inTimeStamp, std::uint32_t bus,
                                   std::uint32_t frames, AudioBufferList* ioData) {
    if (currentFailure_ != kNoErr) {
        return currentFailure_;
    }
    return AudioInputUnit::render(ioActionFlags, inTimeStamp, bus, frames, ioData);
}

}  // namespace fm::platform
