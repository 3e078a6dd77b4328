#include "recording/RawMotionCapture.h"

#include <algorithm>
#include <vector>

#include "recording/RawMotion.h"

namespace fm::recording {

std::int32_t fillRawSeriesFromAccel(std::span<const double> values, std::span<const double> times,
                                    std::int32_t nextSlot, double startMs, double endMs) {
    const std::size_t size = std::min(values.size(), times.size());
    std::vector<std::size_t> taken;
    taken.reserve(size);
    if (size > 0) {
        const std::size_t oldest = static_cast<std::size_t>(std::max(nextSlot, 0)) % size;
        for (std::size_t k = 0; k < size; ++k) {
            const std::size_t slot = (oldest + k) % size;
            if (times[slot] >= startMs && times[slot] <= endMs) {  // NaN times never match
                taken.push_back(slot);
            }
        }
    }
    // Ring order is time order unless the wall clock was set back during the recording.
    std::stable_sort(taken.begin(), taken.end(),
                     [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
    if (taken.size() > static_cast<std::size_t>(kRawSampleCapacity)) {
        taken.erase(taken.begin(), taken.end() - kRawSampleCapacity);
    }
    for (std::size_t k = 0; k < taken.size(); ++k) {
        rawSamples[k] = values[taken[k]];
        rawSampleTimes[k] = times[taken[k]];
    }
    rawSampleCount = static_cast<std::int32_t>(taken.size());
    rewindRawSeries();
    return rawSampleCount;
}

}  // namespace fm::recording
