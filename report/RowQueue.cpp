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
    if (now - lastTry_ >= std::chrono::seconds(1)) {
        flush(now);
    }
}

void RowQueue::reopen(Clock::time_point now) {
    std::string error;
    heed(file_->reopen(&error), error);
    flush(now);
}

void RowQueue::heed(CsvFile::Follow followed, const std::string& error) {
    if (followed == CsvFile::Follow::Renewed) {
        say_(what_ + " " + file_->path() +
             " was removed, moved away or emptied; it is begun again there with its header");
    } else if (followed == CsvFile::Follow::Failed) {
        fail(error);
    }
}

void RowQueue::fail(const std::string& error) {
    error_ = error;
    if (!failing_) {
        say_("cannot write " + what_ + " " + error +
             "; the meters keep running and the rows are kept and tried again every second");
        failing_ = true;
    }
}

void RowQueue::flush(Clock::time_point now) {
    lastTry_ = now;
    std::string error;
    // Never into a file that is no longer at its path: those rows would be lost unseen.
    const CsvFile::Follow followed = file_->follow(&error);
    heed(followed, error);
    if (followed == CsvFile::Follow::Failed) {
        return;
    }
    while (!rows_.empty()) {
        if (!file_->append(rows_.front(), &error)) {
            fail(error);
            return;
        }
        rows_.pop_front();
    }
    if (failing_) {
        say_(what_ + " " + file_->path() + " is written again" +
             (lost_ > lostSaid_
                  ? " (" + std::to_string(lost_ - lostSaid_) + " rows older than an hour were lost)"
                  : std::string()));
        lostSaid_ = lost_;
        failing_ = false;
    }
}

std::size_t RowQueue::finish() {
    if (!rows_.empty()) {
        flush(Clock::now());  // once more, however recent the last try
    }
    const std::size_t unwritten = rows_.size() + static_cast<std::size_t>(lost_ - lostSaid_);
    if (unwritten > 0) {
        say_(std::to_string(unwritten) + (unwritten == 1 ? " row of " : " rows of ") + what_ +
             " could not be written and " + (unwritten == 1 ? "is" : "are") + " lost: " + error_);
    }
    return unwritten;
}

}  // namespace fm::report
