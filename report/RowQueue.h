#pragma once
// Rows on their way into a CSV file: written in order, and kept when the file cannot take them
// (a full disk, a FIFO's reader gone) to be tried again a second later, so that a passing
// failure loses nothing. Beyond an hour of rows the oldest go, counted. A failure is said once,
// and once more when writing works again. Before rows are written, and once a second besides,
// the file is checked against its path: one removed or moved away is begun again there, said
// once. Qt-free.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "report/CsvFile.h"

namespace fm::report {

class RowQueue {
  public:
    using Say = std::function<void(const std::string&)>;
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMostKept = 3600;

    RowQueue(std::unique_ptr<CsvFile> file, std::string what, Say say);

    // Queues `row` and writes what the file can take now.
    void add(std::string row, Clock::time_point now);
    // At most once a second: checks the file against its path and tries the rows kept from a
    // failure again.
    void retry(Clock::time_point now);
    // Opens the file at its path again (after logrotate moved it away) and writes what is kept.
    void reopen(Clock::time_point now);
    // At the end: tries the rows kept once more. Returns how many rows never reached the file
    // (those kept, and those dropped since writing last worked), having said so when any.
    std::size_t finish();

    std::size_t pending() const { return rows_.size(); }
    std::uint64_t lost() const { return lost_; }
    const std::string& path() const { return file_->path(); }

  private:
    void flush(Clock::time_point now);
    void heed(CsvFile::Follow followed, const std::string& error);
    void fail(const std::string& error);

    std::unique_ptr<CsvFile> file_;
    std::string what_;  // "the log", "the summary"
    Say say_;
    std::deque<std::string> rows_;
    bool failing_ = false;
    std::string error_;  // why the rows kept are not written
    Clock::time_point lastTry_{};
    std::uint64_t lost_ = 0;
    std::uint64_t lostSaid_ = 0;
};

}  // namespace fm::report
