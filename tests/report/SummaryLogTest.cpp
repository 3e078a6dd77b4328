// Every column of a summary row holds its own value: levels that differ, so that a column fed
// from another shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include <map>
#include <sstream>

#include "measure/Quantities.h"
#include "report/SummaryLog.h"

namespace fm::report {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (const char c : line.substr(0, line.find('\n'))) {
        c == ',' ? out.emplace_back().clear() : out.back().push_back(c);
    }
    return out;
}

TEST(SummaryLog, EveryColumnOfAPeriodRowHoldsItsOwnValue) {
    ::setenv("TZ", "UTC", 1);  // the local times below
    ::tzset();
    fm::measure::PeriodValues p;
    p.start = std::chrono::system_clock::from_time_t(1796724000);  // 2026-12-08 10:00 UTC
    p.end = p.start + 15min;
    p.complete = true;
    p.measuredSeconds = 897;
    p.noInputSeconds = 2;
    p.overloadSeconds = 1;
    p.LAeq = 61, p.LAFmax = 62, p.LAFmin = 63, p.LA10 = 64, p.LA50 = 65, p.LA90 = 66;
    p.LA95 = 67, p.LCeq = 68, p.LCpeak = 69;
    std::map<std::string, std::string> expected = {{"row", "period"},
                                                   {"start_utc", "2026-12-08T10:00:00.000Z"},
                                                   {"end_utc", "2026-12-08T10:15:00.000Z"},
                                                   {"start_local", "2026-12-08T10:00:00.000+00:00"},
                                                   {"end_local", "2026-12-08T10:15:00.000+00:00"},
                                                   {"lost_s", "0.000"},
                                                   {"LAeq_T_dB", "61.00"},
                                                   {"LAFmax_T_dB", "62.00"},
                                                   {"LAFmin_T_dB", "63.00"},
                                                   {"LA10_T_dB", "64.00"},
                                                   {"LA50_T_dB", "65.00"},
                                                   {"LA90_T_dB", "66.00"},
                                                   {"LA95_T_dB", "67.00"},
                                                   {"LCeq_T_dB", "68.00"},
                                                   {"LCpeak_T_dB", "69.00"},
                                                   {"measured_s", "897"},
                                                   {"no_input_s", "2"},
                                                   {"overload_s", "1"},
                                                   {"complete", "1"},
                                                   {"calibrated", "1"},
                                                   {"calibration_offset_db", "94.50"}};
    p.bandLZeq.emplace();
    for (int b = 0; b < fm::measure::kBandCount; ++b) {
        (*p.bandLZeq)[static_cast<std::size_t>(b)] = 30 + b;
        expected[std::string("LZeq_T_") + fm::measure::bandLabel(b) + "_dB"] =
            std::to_string(30 + b) + ".00";
    }
    p.calibrated = true;
    p.calibrationOffsetDb = 94.5;
    const auto names = fields(summaryHeader());
    const auto row = fields(summaryPeriodRow(p));
    ASSERT_EQ(names.size(), row.size());
    for (std::size_t c = 0; c < names.size(); ++c) {
        // What is not the period's own (the day's levels and coverage) is left empty.
        EXPECT_EQ(row[c], expected.count(names[c]) ? expected[names[c]] : "") << names[c];
        expected.erase(names[c]);
    }
    EXPECT_TRUE(expected.empty()) << expected.begin()->first << " is not a column";
}

}  // namespace
}  // namespace fm::report
