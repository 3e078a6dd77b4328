#pragma once
// The sound to measure, chosen from the options before anything starts: the --input file, the
// demo signal when asked for, or the microphone. Without a usable one the program either plays
// the demo signal (the phone screen, with nothing logged or served) or refuses to start: a
// logger or a server never measures the demo signal unless it was asked for. Qt-free.
#include <functional>
#include <string>

#include "platform/device/DeviceOptions.h"

namespace fm::instrument {

enum class InputChoice { Measured, Demo, Refused };

// Sets the process-wide input source. `demoFallback`: whether a program with no outputs may
// play the demo signal in place of a missing input. One line through `say` tells why when the
// choice is not what was asked for.
InputChoice chooseAudioInput(const fm::platform::DeviceOptions& options, bool demoFallback,
                             const std::function<void(const std::string&)>& say);

// Whether the options write or serve the measurement anywhere.
bool hasOutputs(const fm::platform::DeviceOptions& options);

}  // namespace fm::instrument
