#pragma once
// The latest samples measured, in a ring made once: the seconds before a loud moment are taken
// from it. Frames are numbered as the measurement counts them. One thread only (the measuring
// thread); appending never allocates. Qt-free.
#include <cstdint>
#include <memory>

namespace fm::measure {

class SampleHistory {
  public:
    explicit SampleHistory(std::size_t capacityFrames);

    // Frames [firstFrame, firstFrame + frames). Frames that do not follow the last ones start
    // the history anew.
    void append(const float* samples, std::uint32_t frames, std::uint64_t firstFrame);

    // The first frame still held, and one past the newest.
    std::uint64_t oldestFrame() const { return end_ - held_; }
    std::uint64_t endFrame() const { return end_; }

    // The frames from `from` on, as far as they lie in one piece of the ring (at most up to
    // `to`): their first sample and how many; 0 when `from` is not held.
    std::size_t piece(std::uint64_t from, std::uint64_t to, const float** samples) const;

  private:
    std::unique_ptr<float[]> ring_;
    std::size_t capacity_;
    std::uint64_t end_ = 0;
    std::size_t held_ = 0;
};

}  // namespace fm::measure
