#include "platform/device/ListenAddress.h"

#include <cstdlib>

namespace fm::platform {
namespace {

bool parsePort(const std::string& text, int* port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 65535) {
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(const std::string& text, std::string* error) {
    ListenAddress address;
    std::string portText = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos || close == 1) {
            *error = "\"" + text + "\" is not [HOST:]PORT";
            return std::nullopt;
        }
        address.host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        address.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (address.host.empty() || address.host.find(':') != std::string::npos) {
            *error = "\"" + text + "\" is not [HOST:]PORT (write an IPv6 address in brackets)";
            return std::nullopt;
        }
    }
    if (!parsePort(portText, &address.port)) {
        *error = "\"" + portText + "\" is not a port number from 0 to 65535";
        return std::nullopt;
    }
    return address;
}

}  // namespace fm::platform
