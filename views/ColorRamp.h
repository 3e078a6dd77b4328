#pragma once

namespace fm::views {

// The two level-to-colour ramps: the colour page's flood colour and the direction ring's segment
// colour. Channels come out on a 0 ... 255 scale, single precision.

struct Rgb255 {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
};

// a + (b - a) * t in single precision, t not clamped (so it extrapolates outside 0 ... 1).
inline float lerpfloat(float a, float b, float t) {
    return a + (b - a) * t;
}

// The colour page: black below 0.032 (and for NaN), black to blue, blue to yellow, yellow to
// orange, orange to red, then from orange again (not red) to white up to 1.15, white above.
// The level is compared in double precision with the band constants.
Rgb255 colorViewRamp(float level);

// The direction ring: black below 0.032 (and for NaN), blue to yellow, yellow to orange, orange
// to red, red to white, then white.
Rgb255 directionRamp(float bandLevel);

}  // namespace fm::views
