#pragma once
// Rows on their way into a CSV file: written in order, and kept when the file cannot take them
// (a full disk, a FIFO's reader gone) to be tried again a second later, so that a passing
// failure loses nothing. Beyond an hour of rows the oldest go, counted. A failure is said once,
// and once more when writing works again. Qt-free.
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
    // Tries the rows kept from a failure again, at most once a second.
    void retry(Clock::time_point now);

    std::size_t pending() const { return rows_.size(); }
    std::uint64_t lost() const { return lost_; }
    const std::string& path() const { return file_->path(); }

  private:
    void flush(Clock::time_point now);

    std::unique_ptr<CsvFile> file_;
    std::string what_;  // "the log", "the summary"
    Say say_;
    std::deque<std::string> rows_;
    bool failing_ = false;
    Clock::time_point lastTry_{};
    std::uint64_t lost_ = 0;
};

}  // namespace fm::report
