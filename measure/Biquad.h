#pragma once
// One second-order section, direct form I (the output's own recursion is one multiply and one
// subtraction long). Qt-free.

namespace fm::measure {

struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;

    double process(double x) {
        const double rest = b0 * x + b1 * x1 + b2 * x2 - a2 * y2;
        const double y = rest - a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
    // Magnitude of the response at f Hz.
    double magnitudeAt(double f, double sampleRate) const;
    // Keeps the state out of the slow subnormal range once a signal has died away.
    void flushTiny();
};

}  // namespace fm::measure
