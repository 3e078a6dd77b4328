#include "instrument/Say.h"

#include <cstdio>

namespace fm::instrument {

namespace {
std::string gProgramName = "fieldmeter";
}

void setProgramName(const std::string& name) {
    gProgramName = name;
}

void say(const std::string& line) {
    // One call, so that lines from several threads never interleave within a line.
    const std::string text = gProgramName + ": " + line + "\n";
    std::fputs(text.c_str(), stderr);
}

}  // namespace fm::instrument
