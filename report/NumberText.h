#pragma once
// Numbers as the writers put them down: independent of the locale, with every conversion's
// result checked. A value that cannot be written (not finite, or too large for its field) gives
// nothing: an empty field, never bytes that were not made for it. Qt-free.
#include <optional>
#include <string>

namespace fm::report {

// The largest magnitude a fixed-point field takes; anything beyond it is no measurement.
inline constexpr double kLargestFixed = 1e12;

// Appends `value` with `decimals` decimals ("61.04"); false, with nothing appended, when it
// cannot be written.
bool appendFixed(std::string* out, double value, int decimals);
// The same for an optional value: nothing for nullopt.
bool appendFixed(std::string* out, const std::optional<double>& value, int decimals);
// The shortest text that reads back as the same double ("61.04", "1e+300"); "NaN", "+Inf",
// "-Inf" for those (Prometheus' spelling).
std::string shortestText(double value);

}  // namespace fm::report
