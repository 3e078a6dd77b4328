#pragma once
// A limit as a rule writes it: a level that a quantity must not pass, optionally only at some
// local times of some days, only once it has held for a while, and under a name. The grammar
// (README, "Limits and alerts"):
//
//   [NAME=]QUANTITY>LEVEL[/HOLD][@WHEN]
//
//   QUANTITY  a key of the measured quantities that has a value every second: LAF (its largest
//             value in each second), LAeq_1s, LAFmax_1s, LCpeak_1s, LZeq_1s_1kHz, ...; LCpeak and
//             LAFmax stand for their largest value in each second; or a rolling equivalent level
//             L(A|C|Z)eq_N(s|m|h) over the last N seconds, minutes or hours (2 s to 24 h)
//   LEVEL     dB (dBFS while the meter is not calibrated), e.g. 85, 45.5, -20
//   HOLD      how long it must hold before it counts: 3s, 2m (1 s to 1 h; default 1 s)
//   WHEN      local times and days: 23:00-07:00 (across midnight), Mon-Fri 07:00-19:00,
//             Sat,Sun, Mon-Fri,Sun 22:00-06:00; days name the day a span starts on
//
// Qt-free.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fm::measure {

// Local times of some days of the week: minutes since local midnight, [from, to), across
// midnight when to <= from; the days are those the span starts on (bit 0 Monday ... bit 6
// Sunday).
struct TimeWindow {
    int fromMinute = 0;
    int toMinute = 24 * 60;
    std::uint8_t days = 0x7f;

    // Whether the local clock at `instant` is within the window (the C library's time zone, so
    // the clocks changing is followed).
    bool contains(std::chrono::system_clock::time_point instant) const;
};

struct LimitSpec {
    std::string name;  // as given, or the whole text when none is given
    std::string text;  // the limit as written, name included
    // The quantity's key (measure/Quantities.h), "LAF", or for a rolling level "LAeq_15m".
    std::string key;
    char rollingWeighting = 0;  // 'A', 'C' or 'Z' for a rolling level, else 0
    int rollingSeconds = 0;     // the rolling level's window, else 0
    double levelDb = 0.0;
    int holdSeconds = 1;
    std::optional<TimeWindow> window;

    bool rolling() const { return rollingSeconds > 0; }
};

struct LimitParse {
    std::optional<LimitSpec> spec;
    std::string error;         // what is wrong and an example of the right form
    std::size_t position = 0;  // where in the text (from 0)
};

LimitParse parseLimit(std::string_view text);

// Every limit of `texts` (each given with --limit); nullopt with *error saying what is wrong with
// the first bad one, or that two have the same name (the outputs tell limits apart by it).
std::optional<std::vector<LimitSpec>> parseLimits(const std::vector<std::string>& texts,
                                                  std::string* error);

// "--limit LAF>>85: at character 5, ...", then the limit as written and a caret under the fault.
std::string limitErrorText(const char* option, std::string_view text, const LimitParse& parse);

}  // namespace fm::measure
