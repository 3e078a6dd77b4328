#pragma once
// The floor's window, in a module of its own that the floor loads only when a window is asked
// for: a headless floor never loads Qt, as a program doing only the input and the level would
// not. The module exports one C function.

// Shows one fixed picture of the screen's size (320 x 480 points at `scale`) ten times a
// second until the window closes or `durationSeconds` (if above 0) have passed; returns the
// event loop's status. `program` is argv[0].
extern "C" int fmFloorWindow(double scale, double durationSeconds, char* program);
using FloorWindowFunction = int (*)(double, double, char*);
inline constexpr const char* kFloorWindowModule = "fieldmeter-floor-window.so";
inline constexpr const char* kFloorWindowFunction = "fmFloorWindow";
