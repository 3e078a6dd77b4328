#pragma once
// The floor's command line, a subset of fieldmeter's with the same meaning: --input demo|FILE
// (the microphone when absent), --headless, --scale N, --duration SECONDS. Qt-free.
#include <optional>
#include <string>
#include <vector>

namespace fm::bench {

struct FloorOptions {
    std::string input;  // "" (the default microphone), "demo", or an audio file's path
    bool headless = false;
    std::optional<double> scale;  // the window's zoom; 2 when not given
    std::optional<double> durationSeconds;
    bool help = false;
};

struct FloorOptionsResult {
    std::optional<FloorOptions> options;
    std::string error;  // why the command line was refused, naming the option
};

// `args` without the program's name.
FloorOptionsResult parseFloorOptions(const std::vector<std::string>& args);

std::string floorUsage();

}  // namespace fm::bench
