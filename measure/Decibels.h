#pragma once
// Levels in dB from mean squares, the one place where the reference (a full-scale sine reads
// 0 dB) and the floor are applied. Qt-free.
#include <algorithm>
#include <cmath>

#include "measure/SoundLevelSnapshot.h"

namespace fm::measure {

// The mean square of a full-scale sine: the 0 dB reference.
inline constexpr double kFullScaleSineMeanSquare = 0.5;

// 10 lg(meanSquare / 0.5) + offset, never below the floor (silence, NaN and nonsense read the
// floor).
inline double meanSquareToDb(double meanSquare, double offsetDb = 0.0) {
    if (!(meanSquare > 0.0) || !std::isfinite(meanSquare)) {
        return kLevelFloorDb;
    }
    return std::max(10.0 * std::log10(meanSquare / kFullScaleSineMeanSquare) + offsetDb,
                    kLevelFloorDb);
}

// The mean square that reads `db` (the inverse of meanSquareToDb without offset).
inline double dbToMeanSquare(double db) {
    return kFullScaleSineMeanSquare * std::pow(10.0, db / 10.0);
}

// A peak against the same reference: the peak of a full-scale sine reads +3.01 dB.
inline double peakToDb(double peak, double offsetDb = 0.0) {
    return meanSquareToDb(peak * peak, offsetDb);
}

}  // namespace fm::measure
