#include "bench/floor/FloorOptions.h"

#include <cmath>
#include <cstdlib>

namespace fm::bench {

namespace {

// A whole-string number, or nothing.
std::optional<double> number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

}  // namespace

FloorOptionsResult parseFloorOptions(const std::vector<std::string>& args) {
    FloorOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--headless") {
            o.headless = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--input") {
            if (!hasValue || args[i + 1].empty()) {
                return {std::nullopt, "--input: needs demo or a file's path"};
            }
            o.input = args[++i];
        } else if (arg == "--scale") {
            // The same limits as fieldmeter's.
            const auto s = hasValue ? number(args[++i]) : std::nullopt;
            if (!s || *s <= 0.0 || *s > 8.0) {
                return {std::nullopt, "--scale: needs a number above 0 and at most 8"};
            }
            o.scale = s;
        } else if (arg == "--duration") {
            const auto d = hasValue ? number(args[++i]) : std::nullopt;
            // The window's one timer waits 24.8 days at most.
            if (!d || *d <= 0.0 || *d > 2e6) {
                return {std::nullopt,
                        "--duration: needs a number of seconds above 0 and at most "
                        "2000000"};
            }
            o.durationSeconds = d;
        } else {
            return {std::nullopt, "unknown option " + arg};
        }
    }
    return {o, {}};
}

std::string floorUsage() {
    return "usage: fieldmeter-floor [--input demo|FILE] [--headless] [--scale N] "
           "[--duration SECONDS]\n"
           "The least a program doing fieldmeter's job must spend: the same input through the\n"
           "same back end, the level of each block and, in a window, one fixed picture of the\n"
           "screen's size ten times a second.\n";
}

}  // namespace fm::bench
