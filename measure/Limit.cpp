#include "measure/Limit.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "measure/LocalClock.h"
#include "measure/Quantities.h"

namespace fm::measure {

namespace {

constexpr const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr double kLowestDb = -120.0;
constexpr double kHighestDb = 200.0;
constexpr int kLongestRolling = 24 * 3600;
constexpr int kLongestHold = 3600;

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool isAlpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Monday 0 ... Sunday 6 of a local date.
int weekdayOf(int year, int month, int day) {
    using namespace std::chrono;
    const sys_days date{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                        std::chrono::day{static_cast<unsigned>(day)}};
    return static_cast<int>(weekday{date}.iso_encoding()) - 1;
}

class Parser {
  public:
    explicit Parser(std::string_view text) : t_(text) {}

    LimitParse run() {
        LimitSpec spec;
        spec.text = std::string(t_);
        if (const auto eq = t_.find('='); eq != std::string_view::npos && eq < t_.find('>')) {
            if (!name(eq, &spec)) {
                return result_;
            }
            at_ = eq + 1;
        }
        if (!quantity(&spec) || !level(&spec)) {
            return result_;
        }
        bool held = false, timed = false;
        while (at_ < t_.size()) {
            const char c = t_[at_];
            if (c == '/' && !held) {
                ++at_;
                held = true;
                if (!hold(&spec)) {
                    return result_;
                }
            } else if (c == '@' && !timed) {
                ++at_;
                timed = true;
                if (!when(&spec)) {
                    return result_;
                }
            } else {
                return fail(
                    "after the level only a hold (/3s) and a time (@23:00-07:00) may follow, each "
                    "once, e.g. LAF>85/3s@07:00-19:00");
            }
        }
        if (spec.name.empty()) {
            spec.name = spec.text;
        }
        result_.spec = std::move(spec);
        return result_;
    }

  private:
    LimitParse fail(std::string why) { return fail(at_, std::move(why)); }
    LimitParse fail(std::size_t at, std::string why) {
        result_.error = std::move(why);
        result_.position = at;
        return result_;
    }

    bool name(std::size_t end, LimitSpec* spec) {
        const std::string_view n = t_.substr(0, end);
        if (n.empty()) {
            fail(0, "a name is expected before '=', e.g. night=LAeq_15m>45@23:00-07:00");
            return false;
        }
        for (std::size_t i = 0; i < n.size(); ++i) {
            const char c = n[i];
            const bool ok =
                i == 0 ? isAlpha(c) : (isAlpha(c) || isDigit(c) || c == '_' || c == '-');
            if (!ok || i >= 40) {
                fail(i, i >= 40 ? "a name has at most 40 characters, e.g. night=LAeq_15m>45"
                                : "a name starts with a letter and holds letters, digits, '_' and "
                                  "'-', e.g. night=LAeq_15m>45");
                return false;
            }
        }
        spec->name = std::string(n);
        return true;
    }

    // A number of seconds written as N followed by one of `units` (s, m, h).
    std::optional<int> duration(std::string_view units) {
        const std::size_t start = at_;
        long n = 0;
        while (at_ < t_.size() && isDigit(t_[at_]) && n < 1'000'000) {
            n = n * 10 + (t_[at_++] - '0');
        }
        if (at_ == start || at_ >= t_.size() || units.find(t_[at_]) == std::string_view::npos) {
            return std::nullopt;
        }
        const char unit = t_[at_++];
        return static_cast<int>(std::min(n * (unit == 'h'   ? 3600
                                              : unit == 'm' ? 60
                                                            : 1),
                                         10'000'000L));
    }

    bool quantity(LimitSpec* spec) {
        const std::size_t start = at_;
        while (at_ < t_.size() &&
               (isAlpha(t_[at_]) || isDigit(t_[at_]) || t_[at_] == '_' || t_[at_] == '.')) {
            ++at_;
        }
        const std::string key(t_.substr(start, at_ - start));
        auto refuse = [&](const std::string& why) {
            fail(start, why);
            return false;
        };
        if (key.empty()) {
            return refuse("a quantity is expected, e.g. LAF>85, LCpeak>130 or LAeq_15m>45");
        }
        for (const Quantity& q : quantities()) {
            if (q.key != key) {
                continue;
            }
            switch (q.interval) {
                case Interval::Second:
                    spec->key = key;
                    return true;
                case Interval::Now:
                    if (key == "LAF") {
                        spec->key = key;
                        return true;
                    }
                    return refuse(key +
                                  " is not kept for every second; a limit can use LAF, a "
                                  "quantity of the second such as " +
                                  (q.band >= 0 ? "LZeq_1s_" + std::string(bandLabel(q.band))
                                               : std::string("L") + q.weighting + "eq_1s") +
                                  ", or a rolling level, e.g. LAeq_15m>45");
                case Interval::Run:
                    if (q.statistic == Statistic::Peak || q.statistic == Statistic::Maximum) {
                        spec->key = key + "_1s";  // the largest in each second
                        return true;
                    }
                    return refuse(key +
                                  " is the level since the start, which only grows old; use a "
                                  "rolling level or a second's, e.g. LAeq_15m>45 or LAeq_1s>70");
                default:
                    return refuse(key + " is a value of the " + intervalName(q.interval) +
                                  " interval, not of every second; use a rolling level or a "
                                  "second's, e.g. LAeq_15m>45 or LAeq_1s>70");
            }
        }
        // A rolling equivalent level: L(A|C|Z)eq_N(s|m|h).
        if (key.size() > 5 && key[0] == 'L' && (key[1] == 'A' || key[1] == 'C' || key[1] == 'Z') &&
            key.compare(2, 3, "eq_") == 0) {
            const std::size_t end = at_;
            at_ = start + 5;
            const auto seconds = duration("smh");
            const bool whole = at_ == end;
            at_ = end;
            if (!seconds || !whole) {
                return refuse(
                    "a rolling level is written L(A|C|Z)eq_ and a time in s, m or h, e.g. "
                    "LAeq_15m>45 or LCeq_30s>90");
            }
            if (*seconds < 2 || *seconds > kLongestRolling) {
                return refuse("a rolling level's time is from 2s to 24h, e.g. LAeq_15m>45");
            }
            spec->key = key;
            spec->rollingWeighting = key[1];
            spec->rollingSeconds = *seconds;
            return true;
        }
        return refuse("unknown quantity '" + key +
                      "'; e.g. LAF>85, LCpeak>130, LAeq_1s>70 or LAeq_15m>45 (keys as /api/now "
                      "lists them)");
    }

    bool level(LimitSpec* spec) {
        if (at_ >= t_.size() || t_[at_] != '>') {
            fail(at_ < t_.size() && t_[at_] == '<'
                     ? "a limit is a level not to pass upwards: write '>', e.g. LAF>85"
                     : "'>' and a level are expected after the quantity, e.g. LAF>85");
            return false;
        }
        ++at_;
        const std::size_t start = at_;
        std::size_t end = at_;
        if (end < t_.size() && t_[end] == '-') {
            ++end;
        }
        const std::size_t digits = end;
        while (end < t_.size() && isDigit(t_[end])) {
            ++end;
        }
        if (end < t_.size() && t_[end] == '.' && end > digits) {
            ++end;
            while (end < t_.size() && isDigit(t_[end])) {
                ++end;
            }
        }
        if (at_ < t_.size() && t_[at_] == '=') {
            fail("write '>' alone: a limit holds while the level is above it, e.g. LAF>85");
            return false;
        }
        if (end == digits || t_[end - 1] == '.') {
            fail("a level in dB is expected after '>', e.g. LAF>85 (or LAF>-20 in dBFS)");
            return false;
        }
        const double db = std::strtod(std::string(t_.substr(start, end - start)).c_str(), nullptr);
        if (!(db >= kLowestDb && db <= kHighestDb)) {
            fail("the level is from -120 to 200 dB, e.g. LAF>85");
            return false;
        }
        spec->levelDb = db;
        at_ = end;
        return true;
    }

    bool hold(LimitSpec* spec) {
        const std::size_t start = at_;
        const auto seconds = duration("sm");
        if (!seconds || *seconds < 1 || *seconds > kLongestHold) {
            fail(start, "a hold is a time from 1s to 60m after '/', e.g. LAF>85/3s");
            return false;
        }
        spec->holdSeconds = *seconds;
        return true;
    }

    std::optional<int> clock(bool end) {
        const std::size_t start = at_;
        int h = 0, m = 0;
        std::size_t n = 0;
        while (at_ < t_.size() && isDigit(t_[at_]) && n < 2) {
            h = h * 10 + (t_[at_++] - '0');
            ++n;
        }
        if (n == 0 || at_ + 2 >= t_.size() || t_[at_] != ':' || !isDigit(t_[at_ + 1]) ||
            !isDigit(t_[at_ + 2])) {
            at_ = start;
            return std::nullopt;
        }
        m = (t_[at_ + 1] - '0') * 10 + (t_[at_ + 2] - '0');
        at_ += 3;
        if (m > 59 || h > 24 || (h == 24 && (m != 0 || !end))) {
            at_ = start;
            return std::nullopt;
        }
        return h * 60 + m;
    }

    std::optional<int> day() {
        if (at_ + 3 > t_.size()) {
            return std::nullopt;
        }
        for (int d = 0; d < 7; ++d) {
            bool same = true;
            for (int i = 0; i < 3; ++i) {
                same = same && std::tolower(static_cast<unsigned char>(t_[at_ + i])) ==
                                   std::tolower(static_cast<unsigned char>(kDays[d][i]));
            }
            if (same) {
                at_ += 3;
                return d;
            }
        }
        return std::nullopt;
    }

    bool when(LimitSpec* spec) {
        TimeWindow w;
        const char* example = "e.g. @23:00-07:00, @Mon-Fri 07:00-19:00 or @Sat,Sun";
        if (at_ < t_.size() && isAlpha(t_[at_])) {
            w.days = 0;
            for (;;) {
                const auto first = day();
                if (!first) {
                    fail(std::string("a day is expected: Mon, Tue, Wed, Thu, Fri, Sat or Sun, ") +
                         example);
                    return false;
                }
                int last = *first;
                if (at_ < t_.size() && t_[at_] == '-') {
                    ++at_;
                    const auto to = day();
                    if (!to) {
                        fail(std::string("a day is expected after '-', ") + example);
                        return false;
                    }
                    last = *to;
                }
                for (int d = *first;; d = (d + 1) % 7) {
                    w.days = static_cast<std::uint8_t>(w.days | (1u << d));
                    if (d == last) {
                        break;
                    }
                }
                if (at_ < t_.size() && t_[at_] == ',' && at_ + 1 < t_.size() &&
                    isAlpha(t_[at_ + 1])) {
                    ++at_;
                    continue;
                }
                break;
            }
            if (at_ >= t_.size() || t_[at_] == '/') {
                spec->window = w;
                return true;
            }
            if (t_[at_] != ' ') {
                fail(std::string("a space and a time may follow the days, ") + example);
                return false;
            }
            ++at_;
        }
        const std::size_t start = at_;
        const auto from = clock(false);
        if (!from) {
            fail(std::string("a local time HH:MM-HH:MM is expected, ") + example);
            return false;
        }
        if (at_ >= t_.size() || t_[at_] != '-') {
            fail(std::string("'-' and the time the span ends are expected, ") + example);
            return false;
        }
        ++at_;
        const auto to = clock(true);
        if (!to) {
            fail(std::string("the time the span ends (HH:MM, up to 24:00) is expected, ") +
                 example);
            return false;
        }
        if (*from == *to) {
            fail(start, "the span is empty; for the whole day leave the time out, e.g. @Sat,Sun");
            return false;
        }
        w.fromMinute = *from;
        w.toMinute = *to;
        spec->window = w;
        return true;
    }

    std::string_view t_;
    std::size_t at_ = 0;
    LimitParse result_;
};

}  // namespace

bool TimeWindow::contains(std::chrono::system_clock::time_point instant) const {
    const auto local = localTimeOf(instant);
    if (!local) {
        return false;
    }
    const int minute = local->hour * 60 + local->minute;
    const int today = weekdayOf(local->year, local->month, local->day);
    auto startsOn = [&](int d) { return (days >> ((d + 7) % 7) & 1u) != 0; };
    if (fromMinute < toMinute) {
        return startsOn(today) && minute >= fromMinute && minute < toMinute;
    }
    return (minute >= fromMinute && startsOn(today)) || (minute < toMinute && startsOn(today - 1));
}

LimitParse parseLimit(std::string_view text) {
    return Parser(text).run();
}

std::optional<std::vector<LimitSpec>> parseLimits(const std::vector<std::string>& texts,
                                                  std::string* error) {
    std::vector<LimitSpec> limits;
    for (const std::string& text : texts) {
        LimitParse parse = parseLimit(text);
        if (!parse.spec) {
            *error = limitErrorText("--limit", text, parse);
            return std::nullopt;
        }
        for (const LimitSpec& other : limits) {
            if (other.name == parse.spec->name) {
                *error = "--limit " + text + ": another limit has the name " + other.name +
                         "; give each its own, e.g. night=LAeq_15m>45@23:00-07:00";
                return std::nullopt;
            }
        }
        limits.push_back(std::move(*parse.spec));
    }
    return limits;
}

std::string limitErrorText(const char* option, std::string_view text, const LimitParse& parse) {
    const std::size_t at = std::min(parse.position, text.size());
    return std::string(option) + " " + std::string(text) + ": at character " +
           std::to_string(at + 1) + ", " + parse.error + "\n  " + std::string(text) + "\n  " +
           std::string(at, ' ') + "^";
}

}  // namespace fm::measure
