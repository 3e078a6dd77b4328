#include "views/ColorRamp.h"

#include <cmath>

namespace fm::views {

namespace {

struct Band {
    double upper;  // inclusive upper bound of the band
    double lower;  // t = (l - lower) / divisor * factor
    double divisor;
    double factor;
    Rgb255 from;
    Rgb255 to;
};

Rgb255 lerpRgb(const Rgb255& from, const Rgb255& to, float t) {
    return {lerpfloat(from.red, to.red, t), lerpfloat(from.green, to.green, t),
            lerpfloat(from.blue, to.blue, t)};
}

template <int N>
Rgb255 pick(const Band (&bands)[N], float level) {
    const double l = level;
    if (std::isnan(l) || l < 0.032) {
        return {0.0f, 0.0f, 0.0f};
    }
    for (const Band& b : bands) {
        if (l <= b.upper) {
            const double t = (l - b.lower) / b.divisor * b.factor;
            return lerpRgb(b.from, b.to, static_cast<float>(t));
        }
    }
    return {255.0f, 255.0f, 255.0f};
}

constexpr Rgb255 kBlack{0, 0, 0};
constexpr Rgb255 kWhite{255, 255, 255};
constexpr Rgb255 kOrange{255, 128, 0};
constexpr Rgb255 kRed{255, 0, 0};

// The first band divides by 0.118 (not times its inverse); the others multiply by 4.
const Band kColorViewBands[] = {
    {0.15, 0.032, 0.118, 1.0, kBlack, {0, 0, 255}},
    {0.4, 0.15, 1.0, 4.0, {0, 0, 255}, {255, 255, 0}},
    {0.65, 0.4, 1.0, 4.0, {255, 255, 0}, kOrange},
    {0.9, 0.65, 1.0, 4.0, kOrange, kRed},
    // Starts again from orange, not from the red the band before ends on.
    {1.15, 0.9, 1.0, 4.0, kOrange, kWhite},
};

const Band kDirectionBands[] = {
    {0.15, 0.032, 0.118, 1.0, {10, 10, 255}, {255, 255, 20}},
    {0.4, 0.15, 1.0, 4.0, {255, 255, 20}, kOrange},
    {0.65, 0.4, 1.0, 4.0, kOrange, kRed},
    {0.9, 0.65, 1.0, 4.0, kRed, kWhite},
    {1.15, 0.9, 1.0, 4.0, kWhite, kWhite},
};

}  // namespace

Rgb255 colorViewRamp(float level) {
    return pick(kColorViewBands, level);
}

Rgb255 directionRamp(float bandLevel) {
    return pick(kDirectionBands, bandLevel);
}

}  // namespace fm::views
