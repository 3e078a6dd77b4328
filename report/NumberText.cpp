#include "report/NumberText.h"

#include <charconv>
#include <cmath>

namespace fm::report {

bool appendFixed(std::string* out, double value, int decimals) {
    if (!std::isfinite(value) || std::fabs(value) > kLargestFixed) {
        return false;
    }
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        return false;
    }
    out->append(text, result.ptr);
    return true;
}

bool appendFixed(std::string* out, const std::optional<double>& value, int decimals) {
    return value.has_value() && appendFixed(out, *value, decimals);
}

std::string shortestText(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    if (result.ec != std::errc()) {
        return "NaN";
    }
    return std::string(text, result.ptr);
}

}  // namespace fm::report
