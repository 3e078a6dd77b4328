#pragma once
// Which degrees of the direction ring a reading at theta paints, given the previous reading's
// angle, and the radius it stores there.
#include <array>
#include <cstdint>

namespace fm::views {

struct DegreeRange {
    int first;  // inclusive
    int last;   // inclusive, first <= last
};

struct ArcToFile {
    int count = 0;  // 1 or 2 ranges, walked in order
    std::array<DegreeRange, 2> ranges{};
};

// theta taken into 0 ... 359 (modulo 360, also for negative values).
int32_t wrapDegree(int64_t theta);

// The degrees to write for a move from lastTheta to theta (both in 0 ... 359).
// d = theta - lastTheta: 1 ... 299 paints lastTheta ... theta; -299 ... 0 paints theta ...
// lastTheta; 300 or more and -300 or less cross the 359/0 seam and paint the two outer parts.
ArcToFile arcToFile(int32_t lastTheta, int32_t theta);

// The radius stored for a reading r: 125 - r below 125, otherwise (and for NaN) 0.
double storedRadius(double r);

}  // namespace fm::views
