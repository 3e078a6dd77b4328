#pragma once
// Something that produces captured audio in blocks: the demo signal or an audio file.
#include <cstdint>
#include <optional>
#include <string>

namespace fm::platform {

class BlockSource {
  public:
    virtual ~BlockSource() = default;
    // Main thread, before the first block: false with a reason when the source cannot play.
    virtual bool open(std::string* error) = 0;
    // Delivery thread: fills up to `frames` samples (full scale 1.0); returns how many, 0 at
    // the end.
    virtual std::uint32_t fill(float* out, std::uint32_t frames) = 0;
    // Delivery thread, after fill(): how many of the frames it read were overloaded where the
    // source still sees them whole (any channel before a mix, any sample before a resampler);
    // nullopt when the filled samples tell it themselves.
    virtual std::optional<std::uint32_t> overloadInLastFill() const { return std::nullopt; }
};

}  // namespace fm::platform
