#pragma once
#include <string>

namespace fm::monitor {

// What --help prints.
std::string usageText(const std::string& programName);

}  // namespace fm::monitor
