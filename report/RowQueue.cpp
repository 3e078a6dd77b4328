#include "report/RowQueue.h"

namespace fm::report {

RowQueue::RowQueue(std::unique_ptr<CsvFile> file, std::string what, Say say)
    : file_(std::move(file)), what_(std::move(what)), say_(std::move(say)) {}

void RowQueue::add(std::string row, Clock::time_point now) {
    if (rows_.size() == kMostKept) {
        rows_.pop_front();
        ++lost_;
    }
    rows_.push_back(std::move(row));
    if (!failing_) {
        flush(now);
    }
}

void RowQueue::retry(Clock::time_point now) {
    if (failing_ && now - lastTry_ >= std::chrono::seconds(1)) {
        flush(now);
    }
}

void RowQueue::flush(Clock::time_point now) {
    lastTry_ = now;
    std::string error;
    while (!rows_.empty()) {
        if (!file_->append(rows_.front(), &error)) {
            if (!failing_) {
                say_("cannot write " + what_ + " " + error +
                     "; the meters keep running and the rows are kept and tried again every "
                     "second");
                failing_ = true;
            }
            return;
        }
        rows_.pop_front();
    }
    if (failing_) {
        say_(what_ + " " + file_->path() + " is written again" +
             (lost_ > 0 ? " (" + std::to_string(lost_) + " rows older than an hour were lost)"
                        : std::string()));
        failing_ = false;
    }
}

}  // namespace fm::report
