#include "instrument/ConfigFile.h"

#include <fstream>

#include "measure/Limit.h"

namespace fm::instrument {

using fm::platform::DeviceOptions;
using fm::platform::DeviceOptionsResult;

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string unquoted(const std::string& text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// One `key = value` line as the arguments it stands for; "" in *why when it stands for none.
bool lineArguments(const std::string& key, const std::string& value, std::vector<std::string>* args,
                   std::string* why) {
    const std::string option = "--" + key;
    if (!fm::platform::isFlagOption(option)) {
        args->push_back(option + "=" + value);
        return true;
    }
    if (value == "true" || value == "yes" || value == "on" || value == "1") {
        args->push_back(option);
        return true;
    }
    if (value == "false" || value == "no" || value == "off" || value == "0") {
        return true;
    }
    *why = key + ": needs true or false";
    return false;
}

// The first option given that the program refuses, with why; "" when there is none.
std::string refusal(const std::vector<std::string>& given, const RefusedOptions& refused) {
    for (const std::string& name : given) {
        for (const std::string& no : refused.names) {
            if (name == no) {
                return name + ": " + refused.why;
            }
        }
    }
    return "";
}

DeviceOptionsResult refusedOr(DeviceOptionsResult parsed, const RefusedOptions& refused) {
    if (parsed.options) {
        if (std::string why = refusal(parsed.options->given, refused); !why.empty()) {
            return {std::nullopt, why};
        }
    }
    return parsed;
}

}  // namespace

DeviceOptionsResult parseOptionsWithConfigFile(const std::vector<std::string>& args,
                                               const RefusedOptions& refused) {
    const DeviceOptionsResult commandLine = fm::platform::parseDeviceOptions(args, {}, false);
    if (!commandLine.options || commandLine.options->configFile.empty()) {
        return refusedOr(fm::platform::parseDeviceOptions(args), refused);
    }
    const std::string path = commandLine.options->configFile;
    DeviceOptionsResult result;
    std::ifstream file(path);
    if (!file) {
        result.error = "--config " + path + ": cannot read it";
        return result;
    }
    const std::string program = args.empty() ? std::string("fieldmeter") : args.front();
    DeviceOptions fromFile;
    fromFile.passThrough.push_back(program);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string text = trimmed(line);
        if (text.empty() || text.front() == '#' || text.front() == ';' || text.front() == '[') {
            continue;
        }
        const auto eq = text.find('=');
        const std::string key = trimmed(text.substr(0, eq));
        if (eq == std::string::npos || key.empty()) {
            result.error = where + "needs key = value, e.g. log = /var/lib/fieldmeter/log.csv";
            return result;
        }
        const std::string value = unquoted(trimmed(text.substr(eq + 1)));
        if (key == "config") {
            result.error = where + "a config file cannot name another one";
            return result;
        }
        std::vector<std::string> lineArgs{program};
        std::string why;
        if (!lineArguments(key, value, &lineArgs, &why)) {
            result.error = where + why;
            return result;
        }
        const std::size_t known = fromFile.passThrough.size();
        DeviceOptionsResult parsed =
            fm::platform::parseDeviceOptions(lineArgs, std::move(fromFile), false);
        if (!parsed.options) {
            result.error = where + parsed.error;
            return result;
        }
        fromFile = std::move(*parsed.options);
        if (fromFile.passThrough.size() != known) {
            result.error =
                where + "unknown key " + key + " (the keys are the long options of --help)";
            return result;
        }
        if (std::string why = refusal(fromFile.given, refused); !why.empty()) {
            result.error = where + why;
            return result;
        }
        // A limit's grammar is checked here too, so that a fault names its line.
        if (std::string why; key == "limit" && !fm::measure::parseLimits({value}, &why)) {
            result.error = where + why;
            return result;
        }
        fromFile.given.clear();
    }
    if (file.bad()) {
        result.error = "--config " + path + ": cannot read it";
        return result;
    }
    return refusedOr(fm::platform::parseDeviceOptions(args, std::move(fromFile), true), refused);
}

}  // namespace fm::instrument
