#include "platform/motion/ReplayMotionSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace fm::platform {
namespace {

// Hours of motion at 100 lines a second fit many times over.
constexpr off_t kMaxReplayBytes = off_t{64} << 20;

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool parseField(const std::string& field, double* value) {
    const std::string text = trim(field);
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

}  // namespace

std::optional<std::vector<ReplayRow>> parseMotionReplay(const std::string& text,
                                                        std::string* error) {
    std::vector<ReplayRow> rows;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "line " + std::to_string(number) + ": " + why;
        }
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++number;
        const std::string content = trim(line);
        if (content.empty() || content[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream split(content);
        std::string field;
        while (std::getline(split, field, ',')) {
            fields.push_back(field);
        }
        if (fields.size() != 3) {
            return fail("expected seconds,z_in_g,yaw_in_radians");
        }
        ReplayRow row;
        if (!parseField(fields[0], &row.seconds) || !parseField(fields[1], &row.z) ||
            !parseField(fields[2], &row.yaw)) {
            return fail("expected three numbers: seconds,z_in_g,yaw_in_radians");
        }
        if (!rows.empty() && row.seconds < rows.back().seconds) {
            return fail("seconds go backwards");
        }
        rows.push_back(row);
    }
    if (rows.empty()) {
        number = 0;
        if (error != nullptr) {
            *error = "no samples";
        }
        return std::nullopt;
    }
    return rows;
}

ReplayMotionSource::ReplayMotionSource(std::vector<ReplayRow> rows, std::string name,
                                       std::function<double()> clock)
    : rows_(std::move(rows)), name_(std::move(name)), clock_(std::move(clock)) {}

std::optional<ReplayMotionSource> ReplayMotionSource::load(const std::string& path,
                                                           std::function<double()> clock,
                                                           std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = path + ": " + why;
        }
        return std::nullopt;
    };
    // Without blocking: a FIFO with no writer would otherwise hold the start for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    if (st.st_size > kMaxReplayBytes) {
        ::close(fd);
        return fail("larger than " + std::to_string(kMaxReplayBytes >> 20) + " MiB");
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return fail(std::strerror(e));
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxReplayBytes)) {  // it grew while read
            ::close(fd);
            return fail("larger than " + std::to_string(kMaxReplayBytes >> 20) + " MiB");
        }
    }
    ::close(fd);
    std::string why;
    auto rows = parseMotionReplay(text, &why);
    if (!rows) {
        return fail(why);
    }
    return ReplayMotionSource(std::move(*rows), path, std::move(clock));
}

std::optional<ReplayRow> ReplayMotionSource::rowAt(double seconds) const {
    // The last row whose time has come.
    auto after = std::upper_bound(rows_.begin(), rows_.end(), seconds,
                                  [](double s, const ReplayRow& r) { return s < r.seconds; });
    if (after == rows_.begin()) {
        return std::nullopt;
    }
    return *(after - 1);
}

std::optional<Acceleration> ReplayMotionSource::acceleration() {
    auto row = rowAt(clock_());
    if (!row) {
        return std::nullopt;
    }
    return Acceleration{0.0, 0.0, row->z};
}

std::optional<RotationRate> ReplayMotionSource::rotationRate() {
    return std::nullopt;
}

std::optional<double> ReplayMotionSource::yaw() {
    auto row = rowAt(clock_());
    if (!row) {
        return std::nullopt;
    }
    return row->yaw;
}

std::string ReplayMotionSource::description() const {
    return "motion replayed from " + name_;
}

}  // namespace fm::platform
