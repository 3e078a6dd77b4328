#include "measure/Biquad.h"

#include <cmath>
#include <complex>

namespace fm::measure {

namespace {

constexpr double kPi = 3.14159265358979323846;

double flushed(double v) {
    return std::fabs(v) < 1e-30 ? 0.0 : v;
}

}  // namespace

double Biquad::magnitudeAt(double f, double sampleRate) const {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f / sampleRate);
    const std::complex<double> num = b0 + z1 * (b1 + z1 * b2);
    const std::complex<double> den = 1.0 + z1 * (a1 + z1 * a2);
    return std::abs(num / den);
}

void Biquad::flushTiny() {
    x1 = flushed(x1);
    x2 = flushed(x2);
    y1 = flushed(y1);
    y2 = flushed(y2);
}

}  // namespace fm::measure
