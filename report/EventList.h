#pragma once
// The loud moments this folder holds, as events/events.csv lists them: its rows read as they
// are appended (the file is read again from the start only when it was replaced or cut), the
// newest first, with whether each one's clip is in the folder. Columns are found by their names
// in the header, so columns added later are no harm. Any thread. Qt-free.
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "report/ServedFolder.h"

namespace fm::report {

struct EventRow {
    std::string startUtc, endUtc;
    std::string startLocal;  // "" in a list written before the local time was
    std::optional<double> durationSeconds;
    std::string trigger;  // "LAF" or "LCpeak"
    std::optional<double> LAFmax, LAeq, LCpeak;
    bool calibrated = false;
    std::string clip;  // the clip's name in the folder; "" when none was kept
    bool kept = false;
};

class EventList {
  public:
    // `folder`: the documents folder's events/; the newest `keep` rows are held.
    explicit EventList(const std::string& folder, std::size_t keep = 500);

    // Newest first.
    std::vector<EventRow> rows();
    // Rows read since the start (more than rows() holds once `keep` is passed).
    std::uint64_t total();
    // events.csv's path, and the clips.
    const std::string& csvPath() const { return csvPath_; }
    const ServedFolder& clips() const { return clips_; }

  private:
    void refresh();  // with mutex_ held
    void take(const std::string& line);

    std::string csvPath_;
    ServedFolder clips_;
    std::size_t keep_;
    std::mutex mutex_;
    std::uint64_t inode_ = 0;
    std::uint64_t offset_ = 0;  // bytes of whole lines read
    std::vector<std::string> columns_;
    std::deque<EventRow> rows_;  // oldest first
    std::uint64_t total_ = 0;
};

// The fields of one CSV line (RFC 4180 quoting: "a ""b""" is a "b").
std::vector<std::string> csvFields(const std::string& line);

}  // namespace fm::report
