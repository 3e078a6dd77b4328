#pragma once
// A CSV file that rows are appended to: the log, the summary, the events list. Each row goes to
// the file in one write(2) on a file opened for appending, so a crash loses at most the row
// being made and never leaves half a row (a row the disk takes only in part is cut off again);
// a thread of the file's own flushes it to disk every 10 s, so the writer never waits on the
// disk. The file is opened without blocking: a FIFO without a reader is not waited for, and a
// reader that leaves is a failed write like a full disk (the next append tries again).
//
// A regular file is locked while it is open (flock), so that two programs never write into one
// file, and it follows its path: a file removed, or moved away (logrotate), is made again at the
// path with its header, and its folder with it. A file or stream that is the process's standard
// output sends the program's console lines to standard error. Qt-free.
#include <sys/types.h>

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
    // be read under other columns). A file another process holds is refused with its process
    // id. A pipe or FIFO gets the header whenever it is (re)opened; a FIFO without a reader yet
    // is not an error: *waiting says so and the rows go to it once one is there. Null on
    // failure, with *error naming the path and the reason.
    static std::unique_ptr<CsvFile> open(const std::string& path, const std::string& header,
                                         std::string* error, bool* waiting = nullptr);
    // Flushes the file to disk and closes it.
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // Appends `row` (a whole line) whole or not at all. False with *error set when the row is
    // not in the file.
    bool append(const std::string& row, std::string* error);

    // Whether the path still names the file written. When it does not (removed, moved away or
    // replaced), the file at the path is opened instead, made with its header (and its folder)
    // when missing: Renewed, or Failed with *error when it cannot be (the next append tries
    // again). A file emptied in place gets its header again (Renewed); one not open since a
    // failure is opened at its path (Same, or Failed). Streams stay as they are.
    enum class Follow { Same, Renewed, Failed };
    Follow follow(std::string* error);
    // Opens the file at its path again, whatever is there (after logrotate): Same when it is
    // still the file written.
    Follow reopen(std::string* error);

    const std::string& path() const { return path_; }

  private:
    CsvFile(std::string path, std::string header);
    bool attach(bool makeFolder, bool* waiting, std::string* error);
    void detach();
    bool reopenStream(std::string* error);
    bool write(const std::string& text, std::string* error);
    void syncLoop();

    std::string path_;
    std::string header_;
    int fd_ = -1;  // written by the owner's thread under mutex_; the syncer reads it under it
    // A pipe, FIFO or device: nothing to check, cut, lock or flush, and reopened when its
    // reader leaves. A regular file keeps its descriptor, which the syncer flushes.
    bool stream_ = false;
    dev_t device_ = 0;  // the regular file written: the path names it while these match
    ino_t inode_ = 0;
    std::mutex mutex_;  // never held across a disk operation
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread syncer_;
};

}  // namespace fm::report
