#pragma once

namespace fm::views {

// Where a GraphView sample lands. H is the view's height in points, y grows downward.

// Linear form: H - (value + 5) * yConversion, in double, handed over as float.
float linearGraphY(double value, double yConversion, double height);

// Log form: s = (value + 5) * yConversion in double, converted to float; then
// H - log2f(s) / log2f(1.1) in float, so the height above the bottom edge is log base 1.1 of s.
// An s that is not positive or not finite has no finite height and is put on the bottom edge.
float logGraphY(double value, double yConversion, double height);

}  // namespace fm::views
