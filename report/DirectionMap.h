#pragma once
// Where the sound came from: the energy of every second with levels, filed under the 10-degree
// sector the device faced during it, since the start. Turning the device then maps the sound
// around it: each sector's LAeq is the level heard while facing it. Qt-free.
#include <array>
#include <cstdint>
#include <optional>

#include "measure/EnergyMean.h"

namespace fm::report {

inline constexpr int kDirectionSectors = 36;
inline constexpr double kDirectionSectorDegrees = 10.0;

class DirectionMap {
  public:
    // The sector of a turn: 0 for [0, 10) degrees, 35 for [-10, 0); -1 when it is no number.
    static int sectorOf(double yawDegrees);

    // One second's A-weighted mean square (uncalibrated), measured under offsetDb, while the
    // device faced yawDegrees.
    void add(double yawDegrees, double meanSquareA, double offsetDb);

    // The sector's LAeq (with each second's own calibration); nullopt before its first second.
    std::optional<double> LAeq(int sector) const;
    std::uint64_t seconds(int sector) const;

  private:
    std::array<fm::measure::EnergyMean, kDirectionSectors> sectors_{};
};

}  // namespace fm::report
