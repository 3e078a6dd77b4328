#include "report/LogHistory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "measure/LocalClock.h"
#include "measure/Quantities.h"
#include "report/JsonText.h"

namespace fm::report {

namespace {

// Steps one answer may hold: a day at 1 s and then some; a longer range needs a longer step.
constexpr std::int64_t kMostSteps = 400'000;
constexpr double kLn10Over10 = 0.23025850929940458;  // 10^(L/10) = e^(L ln10 / 10)
// Read this much of a file at a time.
constexpr std::size_t kChunk = 4 << 20;

int digits(std::string_view text, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return -1;
        }
        v = v * 10 + (c - '0');
    }
    return v;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy =
        (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string dateText(int y, int m, int d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

bool isDayFileName(const std::string& name) {
    return name.size() == 14 && name.ends_with(".csv") && digits(name, 0, 4) >= 0 &&
           name[4] == '-' && digits(name, 5, 2) >= 1 && name[7] == '-' && digits(name, 8, 2) >= 1;
}

// The local days that [fromMs, toMs) touches, oldest first.
std::vector<std::string> daysOf(std::int64_t fromMs, std::int64_t toMs) {
    using Clock = std::chrono::system_clock;
    std::vector<std::string> days;
    auto at = [](std::int64_t ms) { return Clock::time_point(std::chrono::milliseconds(ms)); };
    std::optional<fm::measure::LocalTime> local = fm::measure::localTimeOf(at(fromMs));
    while (local && days.size() < 3700) {
        days.push_back(dateText(local->year, local->month, local->day));
        const auto next =
            fm::measure::instantOfLocalHour(local->year, local->month, local->day + 1, 0);
        if (!next || *next >= at(toMs)) {
            break;
        }
        local = fm::measure::localTimeOf(*next);
    }
    return days;
}

struct Accumulator {
    Reduction reduction;
    std::vector<double> value;          // per step: energy sum, highest or lowest
    std::vector<std::uint32_t> counts;  // per step: seconds with a value
};

class DayReader {
  public:
    DayReader(const HistoryQuery& query, std::vector<Accumulator>* sums,
              std::vector<bool>* stepsUsed)
        : query_(query), sums_(*sums), used_(*stepsUsed) {}

    // False when the file is not there.
    bool read(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            if (fd >= 0) {
                ::close(fd);
            }
            return false;
        }
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        // One buffer for the whole file: a chunk read after the part line the last one ended in.
        buffer_.resize(2 * kChunk);
        std::size_t kept = 0;
        std::size_t offset = 0;
        bool header = true;
        while (true) {
            if (kept + kChunk > buffer_.size()) {
                buffer_.resize(kept + kChunk);  // a line longer than a chunk
            }
            const ssize_t n =
                ::pread(fd, buffer_.data() + kept, kChunk, static_cast<off_t>(offset));
            if (n <= 0) {
                break;
            }
            offset += static_cast<std::size_t>(n);
            const char* data = buffer_.data();
            const std::size_t size = kept + static_cast<std::size_t>(n);
            std::size_t at = 0;
            while (true) {
                const void* end = std::memchr(data + at, '\n', size - at);
                if (end == nullptr) {
                    break;  // no line end yet: the rest waits for the next chunk (or is torn)
                }
                const auto lineEnd = static_cast<std::size_t>(static_cast<const char*>(end) - data);
                const std::string_view line(data + at, lineEnd - at);
                if (header) {
                    columns(line);
                    header = false;
                } else if (timeColumn_ >= 0) {
                    row(line);
                }
                at = lineEnd + 1;
            }
            kept = size - at;
            std::memmove(buffer_.data(), data + at, kept);
        }
        ::close(fd);
        return true;
    }

  private:
    void columns(std::string_view line) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        keyColumn_.assign(query_.keys.size(), -1);
        timeColumn_ = -1;
        int c = 0;
        for (std::size_t at = 0; at <= line.size(); ++c) {
            std::size_t comma = line.find(',', at);
            if (comma == std::string_view::npos) {
                comma = line.size();
            }
            const std::string_view name = line.substr(at, comma - at);
            if (name == "time_utc") {
                timeColumn_ = c;
            }
            for (std::size_t k = 0; k < query_.keys.size(); ++k) {
                if (name.size() == query_.keys[k].size() + 3 && name.starts_with(query_.keys[k]) &&
                    name.ends_with("_dB")) {
                    keyColumn_[k] = c;
                }
            }
            at = comma + 1;
        }
        lastColumn_ = timeColumn_;
        for (const int k : keyColumn_) {
            lastColumn_ = std::max(lastColumn_, k);
        }
        fields_.resize(static_cast<std::size_t>(lastColumn_ + 1));
    }

    void row(std::string_view line) {
        // The fields up to the last one needed; a short row is a torn one.
        std::size_t at = 0;
        for (int c = 0; c <= lastColumn_; ++c) {
            if (at > line.size()) {
                return;
            }
            const void* comma = std::memchr(line.data() + at, ',', line.size() - at);
            const std::size_t end =
                comma ? static_cast<std::size_t>(static_cast<const char*>(comma) - line.data())
                      : line.size();
            fields_[static_cast<std::size_t>(c)] = line.substr(at, end - at);
            at = end + 1;
            if (c == timeColumn_) {
                const std::optional<std::int64_t> closed =
                    utcMillisecondsOf(fields_[static_cast<std::size_t>(c)]);
                if (!closed) {
                    return;
                }
                // A second counts where its middle is.
                const std::int64_t middle = *closed - 500;
                if (middle < query_.fromMs || middle >= query_.toMs) {
                    return;
                }
                step_ = (middle - query_.fromMs) / query_.stepMs;
            }
        }
        const auto step = static_cast<std::size_t>(step_);
        bool any = false;
        for (std::size_t k = 0; k < keyColumn_.size(); ++k) {
            if (keyColumn_[k] < 0) {
                continue;
            }
            std::string_view field = fields_[static_cast<std::size_t>(keyColumn_[k])];
            if (!field.empty() && field.back() == '\r') {
                field.remove_suffix(1);
            }
            double db = 0.0;
            const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), db);
            if (field.empty() || ec != std::errc() || end != field.data() + field.size()) {
                continue;
            }
            Accumulator& a = sums_[k];
            double& v = a.value[step];
            switch (a.reduction) {
                case Reduction::EnergyMean:
                    v += std::exp(db * kLn10Over10);
                    break;
                case Reduction::Highest:
                    v = a.counts[step] == 0 ? db : std::max(v, db);
                    break;
                case Reduction::Lowest:
                    v = a.counts[step] == 0 ? db : std::min(v, db);
                    break;
            }
            ++a.counts[step];
            any = true;
        }
        if (any || keyColumn_.empty()) {
            used_[step] = true;
        }
    }

    const HistoryQuery& query_;
    std::vector<Accumulator>& sums_;
    std::vector<bool>& used_;
    int timeColumn_ = -1;
    int lastColumn_ = -1;
    std::vector<int> keyColumn_;
    std::vector<std::string_view> fields_;
    std::vector<char> buffer_;
    std::int64_t step_ = 0;
};

}  // namespace

std::optional<Reduction> reductionOf(const std::string& key) {
    for (const fm::measure::Quantity& q : fm::measure::quantities()) {
        if (q.key != key || q.interval != fm::measure::Interval::Second) {
            continue;
        }
        switch (q.statistic) {
            case fm::measure::Statistic::Equivalent:
                return Reduction::EnergyMean;
            case fm::measure::Statistic::Maximum:
            case fm::measure::Statistic::Peak:
                return Reduction::Highest;
            case fm::measure::Statistic::Minimum:
                return Reduction::Lowest;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> utcMillisecondsOf(std::string_view text) {
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[23] != 'Z') {
        return std::nullopt;
    }
    const int y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const int h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    const int ms = digits(text, 20, 3);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 60 || ms < 0) {
        return std::nullopt;
    }
    return ((daysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60'000 + s * 1000 + ms;
}

std::optional<std::int64_t> historyTimeOf(std::string_view text) {
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        const int y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
        if (y < 1970 || m < 1 || m > 12 || d < 1 || d > 31) {
            return std::nullopt;
        }
        const auto midnight = fm::measure::instantOfLocalHour(y, m, d, 0);
        if (!midnight) {
            return std::nullopt;
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(midnight->time_since_epoch())
            .count();
    }
    if (const auto utc = utcMillisecondsOf(text)) {
        return utc;
    }
    std::int64_t ms = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return ms;
}

std::vector<std::string> historyDays(const std::string& folder) {
    std::vector<std::string> days;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return days;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isDayFileName(name)) {
            continue;
        }
        // A row beyond the header: a second line that has begun.
        const int fd = ::open((folder + "/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat info {};
        char head[8192];
        const ssize_t n = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
                              ? ::pread(fd, head, sizeof head, 0)
                              : -1;
        ::close(fd);
        if (n <= 0) {
            continue;
        }
        const void* end = std::memchr(head, '\n', static_cast<std::size_t>(n));
        const auto headerSize =
            end ? static_cast<std::size_t>(static_cast<const char*>(end) - head) + 1 : 0;
        if (end != nullptr && static_cast<std::size_t>(info.st_size) > headerSize + 1) {
            days.push_back(name.substr(0, 10));
        }
    }
    ::closedir(dir);
    std::sort(days.begin(), days.end());
    return days;
}

HistorySeries readHistory(const std::string& folder, const HistoryQuery& query,
                          std::string* error) {
    HistorySeries series;
    series.keys = query.keys;
    std::vector<Accumulator> sums;
    for (const std::string& key : query.keys) {
        const std::optional<Reduction> reduction = reductionOf(key);
        if (!reduction) {
            *error = key +
                     ": not a quantity of the log (its quantities are those of a second, "
                     "e.g. LAeq_1s, LAFmax_1s, LZeq_1s_1kHz)";
            return series;
        }
        sums.push_back({*reduction, {}, {}});
    }
    if (query.stepMs <= 0 || query.toMs <= query.fromMs) {
        *error = "the range is empty or its step is not above 0";
        return series;
    }
    const std::int64_t steps = (query.toMs - query.fromMs + query.stepMs - 1) / query.stepMs;
    if (steps > kMostSteps) {
        *error = "the range holds " + std::to_string(steps) + " steps, more than " +
                 std::to_string(kMostSteps) + "; ask for a longer step";
        return series;
    }
    const auto n = static_cast<std::size_t>(steps);
    for (Accumulator& a : sums) {
        a.value.assign(n, 0.0);
        a.counts.assign(n, 0);
    }
    std::vector<bool> used(n, false);
    DayReader reader(query, &sums, &used);
    for (const std::string& day : daysOf(query.fromMs, query.toMs)) {
        series.daysRead += reader.read(folder + "/" + day + ".csv") ? 1 : 0;
    }
    series.values.resize(sums.size());
    for (std::size_t s = 0; s < n; ++s) {
        if (!used[s]) {
            continue;
        }
        series.startMs.push_back(query.fromMs + static_cast<std::int64_t>(s) * query.stepMs);
        for (std::size_t k = 0; k < sums.size(); ++k) {
            const Accumulator& a = sums[k];
            std::optional<double> v;
            if (a.counts[s] > 0) {
                v = a.reduction == Reduction::EnergyMean
                        ? 10.0 * std::log10(a.value[s] / a.counts[s])
                        : a.value[s];
            }
            series.values[k].push_back(v);
        }
    }
    return series;
}

std::string historyJson(const HistoryQuery& query, const HistorySeries& series) {
    std::string out = "{\"fromMs\":" + std::to_string(query.fromMs) +
                      ",\"toMs\":" + std::to_string(query.toMs) +
                      ",\"stepMs\":" + std::to_string(query.stepMs) + ",\"keys\":[";
    for (std::size_t k = 0; k < series.keys.size(); ++k) {
        out += k > 0 ? "," : "";
        appendJsonString(&out, series.keys[k]);
    }
    out += "],\"t\":[";
    out.reserve(out.size() + series.startMs.size() * (14 + 7 * series.keys.size()));
    for (std::size_t s = 0; s < series.startMs.size(); ++s) {
        out += s > 0 ? "," : "";
        out += std::to_string(series.startMs[s]);
    }
    out += "],\"values\":[";
    for (std::size_t k = 0; k < series.values.size(); ++k) {
        out += k > 0 ? ",[" : "[";
        for (std::size_t s = 0; s < series.values[k].size(); ++s) {
            if (s > 0) {
                out += ',';
            }
            appendJsonNumber(&out, series.values[k][s], 2);
        }
        out += ']';
    }
    return out + "]}";
}

}  // namespace fm::report
