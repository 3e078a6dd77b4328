#include "platform/http/AccessToken.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace fm::platform {

std::string makeAccessToken(std::string* error) {
    unsigned char bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = std::string("cannot make an access token: ") + std::strerror(errno);
            return {};
        }
        filled += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

bool accessTokenMatches(std::string_view given, std::string_view expected) {
    // Every byte of the expected token is looked at whatever the first difference, so the
    // answer's time tells nothing about how much of a guess was right.
    volatile unsigned char difference = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference = difference | (g ^ static_cast<unsigned char>(expected[i]));
    }
    return difference == 0 && !expected.empty();
}

bool isUsableAccessToken(std::string_view token) {
    if (token.empty() || token.size() > 256) {
        return false;
    }
    for (const char c : token) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace fm::platform
