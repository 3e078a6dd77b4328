#include "platform/http/AccessToken.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string readAccessTokenFile(const std::string& path, std::string* error) {
    // Without waiting: a FIFO given by mistake must not hold the start.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = fd < 0 ? std::string(std::strerror(errno)) : "not a regular file";
        if (fd >= 0) {
            ::close(fd);
        }
        return {};
    }
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text);
    const int readErrno = errno;
    ::close(fd);
    if (n < 0) {
        *error = std::strerror(readErrno);
        return {};
    }
    std::string token(text, static_cast<std::size_t>(n));
    token = token.substr(0, token.find_first_of("\r\n"));
    const auto first = token.find_first_not_of(" \t");
    token = first == std::string::npos
                ? ""
                : token.substr(first, token.find_last_not_of(" \t") + 1 - first);
    if (token.empty()) {
        *error = "it is empty";
        return {};
    }
    if (!isUsableAccessToken(token)) {
        *error = "its first line is no token: 1 to 256 letters, digits, '-', '.', '_' or '~'";
        return {};
    }
    return token;
}

}  // namespace fm::platform
