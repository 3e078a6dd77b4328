#pragma once
// The program's own console lines (what the device printed to its console: "stopRecording",
// "OSStatus(...)"): on standard output, unless a CSV stream of rows is written there, when they
// go to standard error so that the stream holds nothing but its rows. Any thread. Qt-free.
#include <cstdio>

namespace fm::platform {

// From now on the console lines go to standard error. Said once at start, never undone.
void moveConsoleToStandardError();

// Where a console line goes now: stdout or stderr.
std::FILE* console();

// The name the program's lines on standard error start with ("fieldmeter", "fieldmeter-monitor"),
// so that a journal shows which program said them. Set once at start; `name` must outlive the run.
void setProgramName(const char* name);
const char* programName();

}  // namespace fm::platform
