#include "measure/RunStatistics.h"

#include "measure/Decibels.h"

namespace fm::measure {

void RunStatistics::add(const SecondRecord& record) {
    if (!hasLevels(record.input)) {
        return;
    }
    for (const double tick : record.tickMeanSquareAF) {
        histogram_.add(meanSquareToDb(tick, record.calibrationOffsetDb));
    }
}

}  // namespace fm::measure
