#include "measure/SampleHistory.h"

#include <algorithm>
#include <cstring>

namespace fm::measure {

SampleHistory::SampleHistory(std::size_t capacityFrames)
    : ring_(std::make_unique<float[]>(std::max<std::size_t>(capacityFrames, 1))),
      capacity_(std::max<std::size_t>(capacityFrames, 1)) {}

void SampleHistory::append(const float* samples, std::uint32_t frames, std::uint64_t firstFrame) {
    if (firstFrame != end_) {
        end_ = firstFrame;
        held_ = 0;
    }
    std::size_t left = frames;
    if (left > capacity_) {
        // Only the newest fit.
        samples += left - capacity_;
        end_ += left - capacity_;
        left = capacity_;
    }
    while (left > 0) {
        const std::size_t at = static_cast<std::size_t>(end_ % capacity_);
        const std::size_t n = std::min(left, capacity_ - at);
        std::memcpy(ring_.get() + at, samples, n * sizeof(float));
        samples += n;
        left -= n;
        end_ += n;
        held_ = std::min(capacity_, held_ + n);
    }
}

std::size_t SampleHistory::piece(std::uint64_t from, std::uint64_t to,
                                 const float** samples) const {
    if (from < oldestFrame() || from >= end_ || to <= from) {
        return 0;
    }
    const std::size_t at = static_cast<std::size_t>(from % capacity_);
    const std::uint64_t last = std::min(to, end_);
    *samples = ring_.get() + at;
    return static_cast<std::size_t>(std::min<std::uint64_t>(last - from, capacity_ - at));
}

}  // namespace fm::measure
