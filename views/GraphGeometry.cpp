#include "views/GraphGeometry.h"

#include <cmath>

namespace fm::views {

float linearGraphY(double value, double yConversion, double height) {
    return static_cast<float>(height - (value + 5.0) * yConversion);
}

float logGraphY(double value, double yConversion, double height) {
    const float s = static_cast<float>((value + 5.0) * yConversion);
    const float h = static_cast<float>(height);
    if (!(s > 0.0f) || !std::isfinite(s)) {
        return h;
    }
    static const float kLog2Base = log2f(1.1f);  // once, not at every sample
    return h - log2f(s) / kLog2Base;
}

}  // namespace fm::views
