#pragma once
// The summary file (--summary): one row for every closed period (--period, aligned to the local
// clock) and, when the run covered a whole local day, a row for that day with its
// day-evening-night levels. The level columns are written from the measured quantities'
// description (the Period and Day quantities). Each period row is followed by a row for every
// limit ("limit" in the first column, the period's start and end, and the last three columns:
// the limit's name, the seconds in which it held and the episodes that started in the period).
// Qt-free.
#include <cstdint>
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
// A limit's row for a period, ending in a line feed.
std::string summaryLimitRow(const fm::measure::PeriodValues& period, const std::string& limit,
                            std::uint64_t secondsOver, std::uint64_t episodes);

}  // namespace fm::report
