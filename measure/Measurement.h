#pragma once
// The measurement: the audio thread hands each captured block to it (feed), a measuring thread
// of its own runs the sound level meter over it, and every whole second it closes becomes a
// SecondRecord for the main thread's writers (takeSecond). The audio thread only copies the
// block into a ring made once and wakes the measuring thread; it never locks, waits or
// allocates. Each block is stamped with the time of its audio (StreamClock), not with the time
// it arrived. Nothing measured is dropped unless the ring is full; frames lost there or by the
// interface are counted, and each second says how many of its own were lost. Qt-free.
#include <semaphore.h>

#include <atomic>
#include <boost/lockfree/spsc_queue.hpp>
#include <cstdint>
#include <memory>
#include <thread>

#include "measure/BlockRing.h"
#include "measure/MeasurementObserver.h"
#include "measure/MicCorrection.h"
#include "measure/Quantities.h"
#include "measure/SecondRecord.h"
#include "measure/SoundLevels.h"
#include "measure/StreamClock.h"
#include "measure/ThirdOctaveBands.h"

namespace fm::measure {

class Measurement {
  public:
    explicit Measurement(double sampleRate = 44100.0);
    ~Measurement();
    Measurement(const Measurement&) = delete;
    Measurement& operator=(const Measurement&) = delete;

    // Main thread, before capture starts: starts the measuring thread (once).
    void start();
    // Main thread: the measuring thread is woken every `blocks` captured blocks (4 unless set:
    // a screen reads the levels ten times a second; a program without one may wake it less).
    void setBlocksPerWake(int blocks) { blocksPerWake_.store(blocks, std::memory_order_relaxed); }
    // Main thread, before start(): the microphone's correction, applied to every block before
    // it is measured (null: none).
    void setMicCorrection(std::unique_ptr<MicCorrection> correction) {
        micCorrection_ = std::move(correction);
    }

    // Main thread: where the sound comes from from now on (Mic, File or Demo, as the engine
    // starts), or why there is none (Ended, Lost or None, as it stops). A stop drops the part
    // of a second measured before it. The demo signal is never calibrated.
    void setInput(InputKind kind);
    InputKind input() const { return input_.load(std::memory_order_relaxed); }
    bool measuring() const { return hasLevels(input()); }

    // Audio thread, once per captured block (full scale 1.0), with how many of its frames the
    // input saw overloaded (a block counts the larger of that and its samples at or beyond full
    // scale), and how many times so far the interface reported input it lost (RtAudio's
    // overflow status; a change since the last block means a gap before this one).
    void feed(const float* samples, std::uint32_t frames, std::uint32_t overloaded = 0,
              std::uint64_t overflows = 0);

    // Main thread: the next whole second measured, oldest first; false when none is waiting.
    bool takeSecond(SecondRecord* out);
    // Whether every block fed so far has been measured.
    bool idle() const;
    // Waits until every block fed so far has been measured (tests, the self-test).
    void settle();

    // Frames the ring had no room for, and seconds the main thread never took in time.
    std::uint64_t framesDropped() const { return framesDropped_.load(std::memory_order_relaxed); }
    std::uint64_t secondsDropped() const { return secondsDropped_.load(std::memory_order_relaxed); }
    // Every frame of the input lost so far, wherever: the ring's and the interface's.
    std::uint64_t lostFrames() const { return lostFrames_.load(std::memory_order_relaxed); }

    // Main thread, at any time: who follows the measurement on its thread (null: nobody). Returns
    // once the measuring thread no longer calls the one before (at most one block later), which
    // may then go.
    void setObserver(MeasurementObserver* observer);

    SoundLevelMeter& meter() { return meter_; }
    // Any thread: the third-octave bands' levels as last published (once a block).
    BandLevels bandLevels() const;
    double sampleRate() const { return sampleRate_; }

  private:
    void run();
    void wake();
    void measureSlot(const BlockRing::Slot& slot, MeasurementObserver* observer);
    void followEpoch(std::uint32_t epoch, MeasurementObserver* observer);
    void closeSecond(const SoundLevelMeter::ClosedSecond& closed, std::int64_t closedAtNs,
                     InputKind input);
    void publishBands();

    double sampleRate_;
    SoundLevelMeter meter_;
    ThirdOctaveBands bands_;
    std::unique_ptr<MicCorrection> micCorrection_;
    // The bands as published for other threads: written whole between two steps of
    // bandSequence_ (odd while writing); a reader retries a torn read.
    std::atomic<std::uint64_t> bandSequence_{0};
    std::array<std::atomic<double>, kBandCount> bandFast_{};
    std::array<std::atomic<double>, kBandCount> bandEnergy_{};
    std::atomic<std::uint64_t> bandFrames_{0};
    BlockRing ring_;
    boost::lockfree::spsc_queue<SecondRecord> seconds_;
    std::atomic<InputKind> input_{InputKind::None};
    std::atomic<std::uint32_t> epoch_{0};
    std::atomic<std::uint64_t> framesFed_{0};
    std::atomic<std::uint64_t> framesMeasured_{0};
    std::atomic<std::uint64_t> framesDropped_{0};
    std::atomic<std::uint64_t> secondsDropped_{0};
    std::atomic<std::uint64_t> lostFrames_{0};
    std::atomic<bool> stopping_{false};
    sem_t wake_;
    std::thread thread_;
    std::atomic<MeasurementObserver*> observer_{nullptr};
    // True while the measuring thread may call the observer it loaded.
    std::atomic<bool> observing_{false};
    // Measuring thread only.
    std::uint32_t measuredEpoch_ = 0;
    std::uint64_t framesMeasuredHere_ = 0;
    std::uint64_t secondLostFrames_ = 0;  // lost within the second under way
    std::int64_t secondClockStepNs_ = 0;  // the clock's step within it
    // Audio thread only: blocks fed since the measuring thread was last woken.
    int blocksSinceWake_ = 0;
    std::atomic<int> blocksPerWake_{4};
    StreamClock clock_;
    std::uint32_t streamEpoch_ = 0;
    InputKind streamInput_ = InputKind::None;
    std::uint64_t overflowsSeen_ = 0;
    // What the ring has not yet carried: frames lost and a step, told with the next block it takes.
    std::uint64_t pendingLostFrames_ = 0;
    std::int64_t pendingClockStepNs_ = 0;
};

// The measurement the input callback feeds, for the life of the process.
Measurement& measurement();

}  // namespace fm::measure
