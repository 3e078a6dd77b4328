#pragma once
// What follows the measurement as it happens, on the measuring thread (never the audio thread):
// every span of samples in order, every 100 ms tick with its levels, and the stops of the
// input. Event capture uses it to keep the seconds before a loud moment. An observer must not
// block for long: the measurement waits for it. Qt-free.
#include <cstdint>

#include "measure/BlockRing.h"
#include "measure/SoundLevels.h"

namespace fm::measure {

class MeasurementObserver {
  public:
    virtual ~MeasurementObserver() = default;
    // Samples measured, the first of them the `firstFrame`th since the measurement began
    // (frames are counted without gaps; an input stop is told by inputStopped()). `info` is
    // the block's, with the time of the last of these frames as its end time.
    virtual void measured(const float* samples, std::uint32_t frames, std::uint64_t firstFrame,
                          const BlockInfo& info) = 0;
    // A tick closed with the last frame given to measured() (`info` as there); its levels are
    // uncalibrated.
    virtual void tick(const SoundLevelMeter::ClosedTick& tick, std::uint64_t endFrame,
                      const BlockInfo& info) = 0;
    // The input stopped: told once the blocks fed before the stop are measured, before any
    // samples that come after it (which may come after a gap in time, or never).
    virtual void inputStopped() = 0;
};

}  // namespace fm::measure
