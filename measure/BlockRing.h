#pragma once
// The wait-free hand-over of captured blocks from the audio thread (the one producer) to the
// measuring thread (the one consumer): fixed slots made once, copied into and out of, never
// allocated, never locked. A block that finds no room is refused whole, so that what the
// consumer measures has no hole inside a block. Qt-free.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "measure/SecondRecord.h"

namespace fm::measure {

// What travels with a block's samples.
struct BlockInfo {
    // When the block's last frame was captured: system clock, nanoseconds since 1970.
    std::int64_t endTimeNs = 0;
    // Changes when the input stops: a part second measured before it is not continued after.
    std::uint32_t epoch = 0;
    InputKind input = InputKind::Mic;
    // Frames of the stream that never reached the ring just before this block (its first slot
    // only), and a step of the wall clock seen there (nanoseconds, signed; 0: none).
    std::uint64_t lostFrames = 0;
    std::int64_t clockStepNs = 0;
};

class BlockRing {
  public:
    // Small slots, so that a ring of many seconds stays a few megabytes: a block takes as many
    // as it needs.
    static constexpr std::uint32_t kSlotFrames = 512;

    struct Slot {
        BlockInfo info;
        std::uint32_t frames;
        float samples[kSlotFrames];
    };

    explicit BlockRing(std::size_t slots);
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;

    // Producer. Copies the block into as many slots as it needs (each slot's end time is that
    // of its own last frame); false, with nothing copied, when they are not all free.
    bool push(const float* samples, std::uint32_t frames, const BlockInfo& info, double sampleRate);

    // Consumer: the oldest slot, or null when none is filled; pop() frees it.
    const Slot* front() const;
    void pop();

  private:
    std::size_t capacity_;
    // Made without touching its pages: a slot's memory becomes resident when it is first used.
    std::unique_ptr<Slot[]> slots_;
    alignas(64) std::atomic<std::size_t> written_{0};  // slots filled since the start
    alignas(64) std::atomic<std::size_t> read_{0};     // slots freed since the start
};

}  // namespace fm::measure
