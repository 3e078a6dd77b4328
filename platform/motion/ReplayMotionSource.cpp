#include "platform/motion/ReplayMotionSource.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fm::platform {
namespace {

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr) {
            *error = path + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    std::stringstream content;
    content << in.rdbuf();
    std::string why;
    auto rows = parseMotionReplay(content.str(), &why);
    if (!rows) {
        if (error != nullptr) {
            *error = path + ": " + why;
        }
        return std::nullopt;
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
