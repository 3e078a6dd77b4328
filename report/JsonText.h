#pragma once
// JSON text as the live page reads it: strings escaped, numbers independent of the locale, and
// null for a value that is not there (never NaN, which JSON cannot carry). Qt-free.
#include <optional>
#include <string>
#include <string_view>

namespace fm::report {

// Appends `text` as a quoted JSON string; bytes that are not UTF-8 become U+FFFD.
void appendJsonString(std::string* out, std::string_view text);
// Appends the value with `decimals` decimals, or null when there is none or it cannot be
// written.
void appendJsonNumber(std::string* out, const std::optional<double>& value, int decimals);

}  // namespace fm::report
