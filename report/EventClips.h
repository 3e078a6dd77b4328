#pragma once
// The clips of the loud moments, written by a thread of their own. The measuring thread begins a
// clip, hands over its samples and ends it through wait-free queues made once; this thread makes
// the file (a float WAV in the events folder, named by the event's start in local time, never
// replacing anything), brings its header up to date after every batch, keeps the clips in the
// folder within their budget and hands every ended event, with its clip or without, to the main
// thread. Qt-free.
#include <atomic>
#include <boost/lockfree/spsc_queue.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "measure/EventDetector.h"
#include "measure/EventValues.h"
#include "platform/audiofile/FloatWavFile.h"

namespace fm::report {

// One event as the measuring thread hands it over when it ends.
struct EventRecord {
    std::int64_t startNs = 0;  // its first frame, system clock
    std::int64_t endNs = 0;    // one past its last frame (the end of the post-roll)
    fm::measure::EventTrigger trigger = fm::measure::EventTrigger::LAF;
    fm::measure::EventValues values;
    std::uint64_t missingFrames = 0;  // frames of the clip the writer had no room for in time
    bool clipBegun = false;           // false: the writer had no room even for the beginning
};

class EventClips {
  public:
    struct Options {
        std::string folder;  // the events folder
        std::uint64_t budgetBytes = 0;
        int sampleRate = 44100;
        std::size_t queueFrames = 0;  // samples waiting for the disk at most
    };
    // A clip is kept only when it is whole: one the disk did not take every frame of (full,
    // failing, or too slow for the ring) is removed again and said not kept, with why and how
    // much of it was written.
    struct Finished {
        EventRecord event;
        std::string clip;     // the clip's file name in the folder; "" when it was not kept
        std::string refusal;  // why it was not kept ("" when it was)
        std::uint64_t writtenFrames = 0;  // of the clip, on disk before it was kept or removed
    };

    explicit EventClips(Options options);
    // Once the measuring thread is done: writes everything handed over and ends the thread; the
    // events it finished stay to be taken. Idempotent.
    void stop();
    ~EventClips() { stop(); }
    EventClips(const EventClips&) = delete;
    EventClips& operator=(const EventClips&) = delete;

    // Measuring thread; wait-free, never allocating. A clip begins for the event that starts at
    // `startNs`; its samples follow. It cannot be smaller than `leastFrames`. False when the
    // writer is too far behind to take it.
    bool begin(std::int64_t startNs, std::uint64_t leastFrames);
    // Samples of the clip begun: how many the queue took (the rest may follow later).
    std::size_t write(const float* samples, std::size_t frames);
    // The event ended, with its clip begun or not. False when the writer had no room for it.
    bool end(const EventRecord& event);

    // Main thread: the next event whose clip is done; false when none is.
    bool takeFinished(Finished* out);

  private:
    struct Marker {
        bool begin = false;    // begins a clip, else ends the event
        std::uint64_t at = 0;  // samples handed over before it
        std::int64_t startNs = 0;
        std::uint64_t leastFrames = 0;
        EventRecord event;
    };
    void run();
    void work();
    void open(const Marker& marker);
    void close(const EventRecord& event);
    void append(const float* samples, std::size_t frames);
    void refuse(const std::string& why);
    std::uint64_t bytesOfClips() const;
    void wake();

    Options options_;
    boost::lockfree::spsc_queue<float> samples_;
    boost::lockfree::spsc_queue<Marker> markers_;
    std::atomic<std::uint32_t> wakeCount_{0};
    std::atomic<bool> closing_{false};
    std::uint64_t handedOver_ = 0;  // measuring thread: samples pushed

    // The writer thread's own.
    std::uint64_t taken_ = 0;  // samples popped
    std::vector<float> chunk_;
    std::unique_ptr<fm::platform::FloatWavFile> clip_;
    std::uint64_t othersBytes_ = 0;  // the other clips in the folder when this one began
    std::string refusal_;
    std::uint64_t writtenFrames_ = 0;  // of the clip refused, before it was removed

    std::mutex mutex_;  // guards finished_ only
    std::deque<Finished> finished_;
    std::thread thread_;
};

// "2026-12-08 10-15-03": the local time of `ns` (system clock) as clips are named.
std::string clipBaseName(std::int64_t ns);

}  // namespace fm::report
