#pragma once
// Writes captured audio to a CAF (or WAV) file without ever blocking the audio thread.
// writeAsync() (audio thread) pushes frames into a preallocated wait-free queue; a writer thread
// of the file's own drains it into libsndfile. A full queue drops the whole block and counts it;
// the count is printed on standard error when the file is closed. dispose() writes everything
// queued before it, then closes the file.
//
// The writer thread sleeps until there is work: the audio thread wakes it (a futex wake, never a
// lock) once about a quarter of a second is queued, and flush() or dispose() wake it at once.
// After every batch it brings the file's header up to date, so a process that is killed still
// leaves a file whose header declares every frame already on disk.
#include <sndfile.h>

#include <atomic>
#include <boost/lockfree/spsc_queue.hpp>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioTypes.h"

namespace fm::platform {

enum class AudioFileType : std::uint32_t {
    CAF = fourCharCode("caff"),
    WAVE = fourCharCode("WAVE"),
};

class AudioFileWriter {
  public:
    // 2^20 frames: about 23.8 s of audio at 44,100 Hz.
    static constexpr std::size_t kDefaultQueueFrames = std::size_t{1} << 20;

    // Frames queued before the audio thread wakes the writer: about 0.25 s, so a recording
    // costs some four wake-ups a second and a killed process loses at most that much.
    static constexpr std::size_t kWakeFrames = 11025;

    // Creates the file at `path`, replacing an existing one (a symbolic link there is replaced,
    // never written through; anything but a regular file is refused). A non-empty `recordedDate`
    // is stored in the file as the date it was recorded. The data format must be 16-bit
    // signed mono PCM (CAF files are little-endian). On failure returns null, *status says what
    // kind of failure and *error names the path and the system's reason.
    static std::unique_ptr<AudioFileWriter> create(const std::string& path, AudioFileType type,
                                                   const AudioStreamBasicDescription& dataFormat,
                                                   OSStatus* status, std::string* error,
                                                   std::size_t queueFrames = kDefaultQueueFrames,
                                                   const std::string& recordedDate = {});
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // The format of the frames handed to writeAsync; must equal the file's (no conversion).
    OSStatus setClientDataFormat(const AudioStreamBasicDescription& format);

    // Audio thread: queues `frames` 16-bit samples of the list's first buffer. 0 frames with no
    // list primes the writer (a no-op: the writer thread already runs). Never blocks, locks or
    // allocates.
    OSStatus writeAsync(std::uint32_t frames, const AudioBufferList* data);

    // Main thread: returns once every frame queued before the call is in the file and the file's
    // header describes them; the file stays open.
    void flush();

    // Main thread: writes what is queued, closes the file and reports dropped frames and write
    // failures on standard error. kNoErr when every queued frame reached the file. Idempotent.
    OSStatus dispose();

    const std::string& path() const { return path_; }
    std::uint64_t framesDropped() const { return dropped_.load(std::memory_order_relaxed); }
    // Frames dropped by every writer of this process so far (a recording start replaces the
    // writer; the count goes on). Safe from any thread.
    static std::uint64_t framesDroppedInProcess();
    std::uint64_t framesWritten() const { return written_.load(std::memory_order_relaxed); }
    bool isOpen() const { return open_.load(std::memory_order_relaxed); }

  private:
    AudioFileWriter(std::string path, SNDFILE* file, AudioStreamBasicDescription format,
                    std::size_t queueFrames);
    void run();
    bool drain();
    void wakeWriter();

    std::string path_;
    SNDFILE* file_;
    AudioStreamBasicDescription format_;
    boost::lockfree::spsc_queue<std::int16_t> queue_;
    std::size_t capacity_ = 0;         // the empty queue's free frames
    std::size_t wakeFrames_ = 0;       // kWakeFrames, or half a smaller queue
    std::vector<std::int16_t> chunk_;  // writer thread's staging buffer

    std::atomic<bool> open_{true};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> written_{0};
    std::uint64_t failedFrames_ = 0;  // writer thread, read after join
    std::string writeError_;          // writer thread, read after join

    // Bumped by whoever has work for the writer thread, which sleeps on it.
    std::atomic<std::uint32_t> wakeCount_{0};
    // Set by the audio thread's wake-up until the writer takes it, so one batch wakes it once.
    std::atomic<bool> wakePending_{false};

    std::mutex mutex_;
    std::condition_variable flushed_;
    std::uint64_t flushRequested_ = 0;
    std::uint64_t flushDone_ = 0;
    bool closing_ = false;
    bool disposed_ = false;
    OSStatus disposeStatus_ = kNoErr;
    std::thread writer_;
};

}  // namespace fm::platform
