#pragma once
// The sound-level log: one CSV row a second. Each row goes to the file in one write(2) on a file
// opened for appending, so a crash loses at most the row being made and never leaves half a row;
// a thread of the log's own flushes the file to disk every 10 s, so the main thread never waits
// on the disk. Qt-free.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "measure/SoundLevelSnapshot.h"

namespace fm::report {

// What a row holds beside the levels.
struct LevelLogExtras {
    double rawLevel = 0.0;            // rmsValue: the raw level (the big read-out by default)
    double yawDegrees = 0.0;          // the device's turn about the vertical axis
    std::uint64_t framesDropped = 0;  // frames the recorder dropped since the program started
};

// The header row (names and units of the columns), ending in a line feed.
std::string levelLogHeader();
// One row, ending in a line feed. `time` is written in UTC as 2026-12-07T23:50:17.123Z.
std::string levelLogRow(std::chrono::system_clock::time_point time,
                        const measure::SoundLevelSnapshot& levels, const LevelLogExtras& extras);
// ISO 8601 in UTC with milliseconds, e.g. "2026-12-07T23:50:17.123Z".
std::string utcTimeWithMilliseconds(std::chrono::system_clock::time_point time);

class LevelLogFile {
  public:
    static constexpr std::chrono::seconds kSyncInterval{10};

    // Opens `path` for appending, creating it (with the header row) when it does not exist or
    // is empty. Null on failure, with *error naming the path and the reason.
    static std::unique_ptr<LevelLogFile> open(const std::string& path, std::string* error);
    // Flushes the file to disk and closes it.
    ~LevelLogFile();
    LevelLogFile(const LevelLogFile&) = delete;
    LevelLogFile& operator=(const LevelLogFile&) = delete;

    // Appends `row` whole or not at all: a write the disk cuts short is taken back. False with
    // *error set when the row is not in the file.
    bool append(const std::string& row, std::string* error);

    const std::string& path() const { return path_; }

  private:
    LevelLogFile(std::string path, int fd);
    void syncLoop();

    std::string path_;
    int fd_;
    std::mutex mutex_;  // guards stopping_ only; never held across a disk operation
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread syncer_;
};

}  // namespace fm::report
