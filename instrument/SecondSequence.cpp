#include "instrument/SecondSequence.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace fm::instrument {

namespace {
constexpr std::size_t kWidth = 20;  // every 64-bit count, so a rewrite never leaves a tail
}

SecondSequence::SecondSequence(const std::string& path, std::string* error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        *error = path + ": " + std::strerror(errno);
        return;
    }
    char text[kWidth + 1] = {};
    const ssize_t n = ::pread(fd_, text, kWidth, 0);
    if (n > 0) {
        const char* first = text;
        while (first < text + n && *first == ' ') {
            ++first;
        }
        std::from_chars(first, text + n, last_);
    }
}

SecondSequence::~SecondSequence() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::uint64_t SecondSequence::next() {
    ++last_;
    if (fd_ >= 0) {
        char text[kWidth + 1];
        std::memset(text, ' ', kWidth);
        text[kWidth] = '\n';
        char digits[kWidth];
        const auto [end, ec] = std::to_chars(digits, digits + kWidth, last_);
        const auto length = static_cast<std::size_t>(end - digits);
        std::memcpy(text + kWidth - length, digits, length);
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, text, sizeof text, 0);
    }
    return last_;
}

}  // namespace fm::instrument
