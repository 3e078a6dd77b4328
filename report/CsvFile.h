#pragma once
// A CSV file that rows are appended to: the log, the summary, the events list. Each row goes to
// the file in one write(2) on a file opened for appending, so a crash loses at most the row
// being made and never leaves half a row (a row the disk takes only in part is cut off again);
// a thread of the file's own flushes it to disk every 10 s, so the writer never waits on the
// disk. The file is opened without blocking: a FIFO without a reader is not waited for, and a
// reader that leaves is a failed write like a full disk (the next append tries again). Qt-free.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fm::report {

class CsvFile {
  public:
    static constexpr std::chrono::seconds kSyncInterval{10};

    // Opens `path` for appending. A new or empty file gets `header` (a whole line) first; a file
    // that already has rows must start with the same header, else it is refused (its rows would
    // be read under other columns). A pipe or FIFO gets the header whenever it is (re)opened; a
    // FIFO without a reader yet is not an error: *waiting says so and the rows go to it once one
    // is there. Null on failure, with *error naming the path and the reason.
    static std::unique_ptr<CsvFile> open(const std::string& path, const std::string& header,
                                         std::string* error, bool* waiting = nullptr);
    // Flushes the file to disk and closes it.
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // Appends `row` (a whole line) whole or not at all. False with *error set when the row is
    // not in the file.
    bool append(const std::string& row, std::string* error);

    const std::string& path() const { return path_; }

  private:
    CsvFile(std::string path, std::string header);
    bool reopen(std::string* error);
    bool write(const std::string& text, std::string* error);
    void syncLoop();

    std::string path_;
    std::string header_;
    int fd_ = -1;
    // A pipe, FIFO or device: nothing to check, cut or flush, and reopened when its reader
    // leaves. A regular file keeps its descriptor, which the syncer flushes.
    bool stream_ = false;
    std::mutex mutex_;  // guards stopping_ only; never held across a disk operation
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread syncer_;
};

}  // namespace fm::report
