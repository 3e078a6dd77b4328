#pragma once
// The log kept as a file for each local day (--log-dir): FOLDER/2026-12-08.csv, the same
// columns as --log, a new file with its header from local midnight on, so that a reader of a
// year of logs opens only the days it asks for. A second belongs to the day of its middle. A day
// file that cannot be begun keeps its rows and is tried again every second. Qt-free.
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "report/RowQueue.h"

namespace fm::report {

class DayLog {
  public:
    using Say = std::function<void(const std::string&)>;
    using Clock = std::chrono::system_clock;

    // Makes the folder when it is missing and begins the file of `now`'s day. Null when either
    // cannot be, with *error naming the path and why.
    static std::unique_ptr<DayLog> open(const std::string& folder, Clock::time_point now, Say say,
                                        std::string* error);

    // The row of the second that closed at `closedAt`, into its day's file.
    void add(Clock::time_point closedAt, std::string row, RowQueue::Clock::time_point now);
    // Rows kept from a failure are tried again, at most once a second.
    void retry(RowQueue::Clock::time_point now);

    // "2026-12-08": the local day a second closing at `closedAt` belongs to.
    static std::string dayOf(Clock::time_point closedAt);

  private:
    DayLog(std::string folder, Say say) : folder_(std::move(folder)), say_(std::move(say)) {}
    bool begin(const std::string& day, std::string* error);

    std::string folder_;
    Say say_;
    std::string day_;                   // the day rows go to
    std::unique_ptr<RowQueue> file_;    // its file, once begun
    std::unique_ptr<RowQueue> before_;  // the day before, while it still holds rows to write
    std::deque<std::string> waiting_;   // rows for a day whose file could not be begun yet
    RowQueue::Clock::time_point lastTry_{};
    bool failing_ = false;
};

}  // namespace fm::report
