#include "platform/http/HostHeader.h"

#include <algorithm>

namespace fm::platform {
namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isPort(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool hostHeaderNames(const std::string& host, const std::vector<std::string>& names) {
    std::string name;
    std::string rest;
    if (host.starts_with("[")) {
        const auto close = host.find(']');
        if (close == std::string::npos) {
            return false;
        }
        name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        if (name.find(':') == std::string::npos) {
            return false;  // brackets hold an IPv6 address only
        }
    } else {
        const auto colon = host.find(':');
        name = host.substr(0, colon);
        rest = colon == std::string::npos ? "" : host.substr(colon);
    }
    if (name.empty() || !(rest.empty() || (rest[0] == ':' && isPort(rest.substr(1))))) {
        return false;
    }
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return sameIgnoringCase(n, name); });
}

}  // namespace fm::platform
