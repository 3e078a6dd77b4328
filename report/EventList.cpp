#include "report/EventList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

namespace fm::report {

namespace {

// A number written by the program; nothing for an empty or foreign field. from_chars, unlike
// strtod, reads a decimal point whatever the locale.
std::optional<double> numberOf(const std::string& text) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

// A file read at most this much at a time: a long list must not hold the server's thread.
constexpr std::size_t kReadLimit = 1 << 20;

}  // namespace

std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back().push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back().push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back().push_back(c);
        }
    }
    return fields;
}

EventList::EventList(const std::string& folder, std::size_t keep)
    : csvPath_(folder + "/events.csv"),
      clips_(folder, {".wav"}),
      keep_(std::max<std::size_t>(keep, 1)) {}

std::vector<EventRow> EventList::rows() {
    std::lock_guard lock(mutex_);
    refresh();
    return {rows_.rbegin(), rows_.rend()};
}

std::uint64_t EventList::total() {
    std::lock_guard lock(mutex_);
    refresh();
    return total_;
}

void EventList::refresh() {
    // Never through a link: the list is the program's own file.
    const int fd = ::open(csvPath_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (info.st_ino != inode_ || size < offset_) {
        inode_ = info.st_ino;
        offset_ = 0;
        columns_.clear();
        rows_.clear();
        total_ = 0;
    }
    while (offset_ < size) {
        std::string text(std::min<std::uint64_t>(size - offset_, kReadLimit), '\0');
        const ssize_t n = ::pread(fd, text.data(), text.size(), static_cast<off_t>(offset_));
        if (n <= 0) {
            break;
        }
        text.resize(static_cast<std::size_t>(n));
        const std::size_t end = text.rfind('\n');
        if (end == std::string::npos) {
            break;  // a row still being written: read with the next call
        }
        for (std::size_t at = 0; at <= end;) {
            const std::size_t lineEnd = text.find('\n', at);
            take(text.substr(at, lineEnd - at));
            at = lineEnd + 1;
        }
        offset_ += end + 1;
    }
    ::close(fd);
}

void EventList::take(const std::string& line) {
    if (line.empty() || line == "\r") {
        return;
    }
    const std::vector<std::string> fields = csvFields(line);
    if (columns_.empty()) {
        columns_ = fields;
        return;
    }
    auto at = [&](const char* name) -> std::string {
        const auto c = std::find(columns_.begin(), columns_.end(), name);
        const auto i = static_cast<std::size_t>(c - columns_.begin());
        return c == columns_.end() || i >= fields.size() ? std::string() : fields[i];
    };
    EventRow row;
    row.startUtc = at("start_utc");
    row.endUtc = at("end_utc");
    row.startLocal = at("start_local");
    row.durationSeconds = numberOf(at("duration_s"));
    row.trigger = at("trigger");
    row.LAFmax = numberOf(at("LAFmax_dB"));
    row.LAeq = numberOf(at("LAeq_dB"));
    row.LCpeak = numberOf(at("LCpeak_dB"));
    row.calibrated = at("calibrated") == "1";
    row.kept = at("kept") == "1";
    row.clip = row.kept ? at("clip") : std::string();
    rows_.push_back(std::move(row));
    ++total_;
    if (rows_.size() > keep_) {
        rows_.pop_front();
    }
}

}  // namespace fm::report
