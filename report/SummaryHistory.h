#pragma once
// The summary file (--summary) read back for a range of time, for the page's history and the
// day report: the periods that began in it (their LAeq,T, LAFmax,T, LA10,T, LA90,T, seconds
// measured and whether complete) and the whole local days in it (Lday, Levening, Lnight, Lden).
// Columns are found by their names; a row that is torn or not the program's is left out. Any
// thread. Qt-free.
#include <cstdint>
#include <string>
#include <vector>

namespace fm::report {

// {"periods":[{"startMs":..,"endMs":..,"LAeq_T":..,...,"measured_s":..,"complete":true}],
//  "days":[{"date":"2026-12-08","Lday":..,"Levening":..,"Lnight":..,"Lden":..}]}: the periods
// that start in [fromMs, toMs), and the days whose local midnight does. Empty lists when the
// file is missing.
std::string summaryHistoryJson(const std::string& summaryPath, std::int64_t fromMs,
                               std::int64_t toMs);

}  // namespace fm::report
