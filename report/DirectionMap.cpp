#include "report/DirectionMap.h"

#include <cmath>

namespace fm::report {

int DirectionMap::sectorOf(double yawDegrees) {
    if (!std::isfinite(yawDegrees)) {
        return -1;
    }
    double wrapped = std::fmod(yawDegrees, 360.0);
    if (wrapped < 0.0) {
        wrapped += 360.0;
    }
    // -1e-15 wraps to 360.0 exactly: that is sector 0 again.
    const int sector = static_cast<int>(wrapped / kDirectionSectorDegrees);
    return sector >= kDirectionSectors ? 0 : sector;
}

void DirectionMap::add(double yawDegrees, double meanSquareA, double offsetDb) {
    const int sector = sectorOf(yawDegrees);
    if (sector >= 0) {
        sectors_[static_cast<std::size_t>(sector)].add(meanSquareA, offsetDb);
    }
}

std::optional<double> DirectionMap::LAeq(int sector) const {
    if (sector < 0 || sector >= kDirectionSectors) {
        return std::nullopt;
    }
    return sectors_[static_cast<std::size_t>(sector)].level();
}

std::uint64_t DirectionMap::seconds(int sector) const {
    if (sector < 0 || sector >= kDirectionSectors) {
        return 0;
    }
    return sectors_[static_cast<std::size_t>(sector)].count();
}

}  // namespace fm::report
