#include "deliver/LineProtocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace fm::deliver {
namespace {

void appendEscaped(std::string& out, std::string_view text, std::string_view special) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' || c == '\r') c = ' ';  // a line break would end the point
        // A trailing backslash would escape the separator after it.
        if (special.find(c) != std::string_view::npos || (c == '\\' && i + 1 == text.size())) {
            out.push_back('\\');
        }
        out.push_back(c);
    }
}

}  // namespace

std::string lineProtocolPoint(std::string_view measurement,
                              const std::vector<std::pair<std::string, std::string>>& tags,
                              const std::vector<std::pair<std::string, double>>& fields,
                              std::int64_t unixNanoseconds) {
    std::string out;
    appendEscaped(out, measurement, ", ");
    auto sorted = tags;
    std::sort(sorted.begin(), sorted.end());
    for (const auto& [key, value] : sorted) {
        if (key.empty() || value.empty()) continue;
        out.push_back(',');
        appendEscaped(out, key, ",= ");
        out.push_back('=');
        appendEscaped(out, value, ",= ");
    }
    char separator = ' ';
    for (const auto& [key, value] : fields) {
        if (key.empty() || !std::isfinite(value)) continue;
        out.push_back(separator);
        separator = ',';
        appendEscaped(out, key, ",= ");
        out.push_back('=');
        char number[32];
        const auto r = std::to_chars(number, number + sizeof number, value);
        out.append(number, r.ptr);
    }
    if (separator == ' ') return {};
    out.push_back(' ');
    out += std::to_string(unixNanoseconds);
    return out;
}

}  // namespace fm::deliver
