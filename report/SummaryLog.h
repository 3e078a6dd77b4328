#pragma once
// The summary file (--summary): one row for every closed period (--period, aligned to the local
// clock) and, when the run covered a whole local day, a row for that day with its
// day-evening-night levels. The level columns are written from the measured quantities'
// description (the Period and Day quantities). Qt-free.
#include <string>

#include "measure/DayEveningNight.h"
#include "measure/PeriodSummary.h"

namespace fm::report {

// The header row, ending in a line feed.
std::string summaryHeader();
// A period's row ("period" in the first column), ending in a line feed.
std::string summaryPeriodRow(const fm::measure::PeriodValues& period);
// A day's row ("day" in the first column), ending in a line feed.
std::string summaryDayRow(const fm::measure::DayValues& day);

}  // namespace fm::report
