#include "measure/BlockRing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fm::measure {

BlockRing::BlockRing(std::size_t slots) : capacity_(slots), slots_(new Slot[slots]) {}

bool BlockRing::push(const float* samples, std::uint32_t frames, const BlockInfo& info,
                     double sampleRate) {
    const std::size_t needed = (frames + kSlotFrames - 1) / kSlotFrames;
    const std::size_t written = written_.load(std::memory_order_relaxed);
    const std::size_t read = read_.load(std::memory_order_acquire);
    if (needed == 0 || capacity_ - (written - read) < needed) {
        return needed == 0;
    }
    std::uint32_t done = 0;
    for (std::size_t k = 0; k < needed; ++k) {
        Slot& slot = slots_[(written + k) % capacity_];
        const std::uint32_t piece = std::min(frames - done, kSlotFrames);
        std::memcpy(slot.samples, samples + done, piece * sizeof(float));
        done += piece;
        slot.frames = piece;
        slot.info = info;
        if (k > 0) {
            slot.info.lostFrames = 0;
            slot.info.clockStepNs = 0;
        }
        // The frames after this piece were captured after its last one.
        const double laterFrames = static_cast<double>(frames - done);
        slot.info.endTimeNs = info.endTimeNs - std::llround(laterFrames / sampleRate * 1e9);
    }
    written_.store(written + needed, std::memory_order_release);
    return true;
}

const BlockRing::Slot* BlockRing::front() const {
    const std::size_t read = read_.load(std::memory_order_relaxed);
    if (written_.load(std::memory_order_acquire) == read) {
        return nullptr;
    }
    return &slots_[read % capacity_];
}

void BlockRing::pop() {
    read_.store(read_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

}  // namespace fm::measure
