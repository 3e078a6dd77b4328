#include "views/ArcFiling.h"

namespace fm::views {

int32_t wrapDegree(int64_t theta) {
    int64_t m = theta % 360;
    if (m < 0) {
        m += 360;
    }
    return static_cast<int32_t>(m);
}

ArcToFile arcToFile(int32_t lastTheta, int32_t theta) {
    ArcToFile arc;
    const int32_t d = theta - lastTheta;
    auto add = [&arc](int first, int last) {
        // A part is written only when its bounds lie within the ring.
        if (first >= 0 && last <= 359 && first <= last) {
            arc.ranges[static_cast<std::size_t>(arc.count++)] = {first, last};
        }
    };
    if (d >= 1 && d <= 299) {
        add(lastTheta, theta);
    } else if (d >= -299 && d <= 0) {
        add(theta, lastTheta);
    } else if (d >= 300) {
        add(0, lastTheta);
        add(theta, 359);
    } else {
        // d <= -300: -300 paints the seam-crossing arc as +300 does.
        add(0, theta);
        add(lastTheta, 359);
    }
    return arc;
}

double storedRadius(double r) {
    // NaN fails the comparison and stores 0, like a strong reading.
    return r < 125.0 ? 125.0 - r : 0.0;
}

}  // namespace fm::views
