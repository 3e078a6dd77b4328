#pragma once
// The options from a config file (--config FILE) under those of the command line. The file is
// INI: `key = value` lines whose keys are the long option names without their dashes
// (`log = /var/lib/fieldmeter/log.csv`), a flag taking true or false, `#` or `;` comments,
// and [section] lines, which are ignored. An unknown key or a bad value is refused with the
// file's name and line number. The command line wins: an option given there replaces the
// file's. Qt-free.
#include <string>
#include <vector>

#include "platform/device/DeviceOptions.h"

namespace fm::instrument {

// Options a program has no use for, refused with `why` wherever they are given.
struct RefusedOptions {
    std::vector<std::string> names;  // "--tall", ...
    std::string why;                 // "fieldmeter-monitor has no screen"
};

// `args` is the whole command line (argv[0] first). Without --config it is parsed alone.
fm::platform::DeviceOptionsResult parseOptionsWithConfigFile(const std::vector<std::string>& args,
                                                             const RefusedOptions& refused = {});

}  // namespace fm::instrument
