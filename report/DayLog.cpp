#include "report/DayLog.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "report/LevelLog.h"

namespace fm::report {

std::string DayLog::dayOf(Clock::time_point closedAt) {
    const std::time_t middle = Clock::to_time_t(closedAt - std::chrono::milliseconds(500));
    std::tm local{};
    ::localtime_r(&middle, &local);
    char text[16];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return std::string(text, n);
}

std::unique_ptr<DayLog> DayLog::open(const std::string& folder, Clock::time_point now, Say say,
                                     std::string* error) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = folder + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = folder + ": not a folder";
        return nullptr;
    }
    std::unique_ptr<DayLog> log(new DayLog(folder, std::move(say)));
    // The first second closes a second from now: its day is the one begun.
    if (!log->begin(dayOf(now + std::chrono::seconds(1)), error)) {
        return nullptr;
    }
    return log;
}

bool DayLog::begin(const std::string& day, std::string* error) {
    const std::string path = folder_ + "/" + day + ".csv";
    auto file = CsvFile::open(path, levelLogHeader(), error);
    if (!file) {
        return false;
    }
    file_ = std::make_unique<RowQueue>(std::move(file), "the log", say_);
    day_ = day;
    return true;
}

void DayLog::add(Clock::time_point closedAt, std::string row, RowQueue::Clock::time_point now) {
    const std::string day = dayOf(closedAt);
    if (day != day_ || !file_) {
        if (day != day_) {
            // A new day (or a clock set back): its rows wait for its file; the day before keeps
            // what it could not write yet.
            if (file_ && file_->pending() > 0) {
                before_ = std::move(file_);
            }
            file_.reset();
            day_ = day;
            failing_ = false;
        }
        waiting_.push_back(std::move(row));
        if (waiting_.size() > RowQueue::kMostKept) {
            waiting_.pop_front();
        }
        retry(now);
        return;
    }
    file_->add(std::move(row), now);
}

void DayLog::retry(RowQueue::Clock::time_point now) {
    if (before_) {
        before_->retry(now);
        if (before_->pending() == 0) {
            before_.reset();
        }
    }
    if (file_) {
        file_->retry(now);
        return;
    }
    if (failing_ && now - lastTry_ < std::chrono::seconds(1)) {
        return;
    }
    lastTry_ = now;
    std::string error;
    const std::string day = day_;
    day_.clear();
    if (!begin(day, &error)) {
        day_ = day;
        if (!failing_) {
            say_("cannot begin the log of " + day + ": " + error +
                 "; its rows are kept and tried again every second");
            failing_ = true;
        }
        return;
    }
    if (failing_) {
        say_("the log of " + day + " is written again");
        failing_ = false;
    }
    while (!waiting_.empty()) {
        file_->add(std::move(waiting_.front()), now);
        waiting_.pop_front();
    }
}

}  // namespace fm::report
