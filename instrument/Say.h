#pragma once
// The program's own lines on standard error, one a change of state, each beginning with the
// program's name ("fieldmeter: ...", "fieldmeter-monitor: ..."), as the journal shows them.
// Any thread.
#include <string>

namespace fm::instrument {

// Main thread, at the start, before any other thread says anything.
void setProgramName(const std::string& name);
void say(const std::string& line);

}  // namespace fm::instrument
