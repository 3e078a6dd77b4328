#include "instrument/Say.h"

#include <cstdio>

#include "platform/console/Console.h"

namespace fm::instrument {

namespace {
std::string gProgramName = "fieldmeter";
}

void setProgramName(const std::string& name) {
    gProgramName = name;
    fm::platform::setProgramName(gProgramName.c_str());  // for the lower layers' own lines
}

void say(const std::string& line) {
    // One call, so that lines from several threads never interleave within a line.
    const std::string text = gProgramName + ": " + line + "\n";
    std::fputs(text.c_str(), stderr);
}

}  // namespace fm::instrument
