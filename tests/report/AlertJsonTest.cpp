// An alert as JSON with its times in UTC and in a local time behind UTC by hours and minutes,
// and a summary's limit row under the summary's own header.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "report/AlertJson.h"
#include "report/SummaryLog.h"

namespace fm::report {
namespace {

using namespace std::chrono;

TEST(AlertJson, AClearedAlertWithLocalTimesAndClips) {
    // This process's zone from now on: the other case here reads no local time.
    setenv("TZ", "America/St_Johns", 1);  // -03:30 in December
    tzset();
    fm::measure::LimitAlert a;
    a.kind = fm::measure::LimitAlert::Kind::Cleared;
    a.name = "night";
    a.spec = "night=LAeq_15m>45@23:00-07:00";
    a.levelDb = 45.0;
    a.value = 49.214;
    a.calibrated = true;
    a.episode = 3;
    a.start = sys_days{2026y / 12 / 8} + 2h + 14min + 5s + 250ms;
    a.end = a.start + 1327s;
    a.time = a.end + 60s;
    a.coverage = 0.5;
    a.clips = {"2026-12-07 22-50-41.wav", "b \"2\".wav"};
    EXPECT_EQ(alertJson(a, "roof"),
              "{\"alert\":\"cleared\",\"limit\":\"night\",\"spec\":\"night=LAeq_15m>45@23:00-07:"
              "00\",\"meter\":\"roof\",\"level\":45.00,\"value\":49.21,\"unit\":\"dB\","
              "\"episode\":3,\"startUtc\":\"2026-12-08T02:14:05.250Z\",\"startLocal\":\"2026-12-"
              "07T22:44:05.250-03:30\",\"timeUtc\":\"2026-12-08T02:37:12.250Z\",\"timeLocal\":"
              "\"2026-12-07T23:07:12.250-03:30\",\"endUtc\":\"2026-12-08T02:36:12.250Z\","
              "\"endLocal\":\"2026-12-07T23:06:12.250-03:30\",\"durationSeconds\":1327,"
              "\"maximum\":49.21,\"LAeq\":null,\"coverage\":0.500,\"clip\":\"2026-12-07 "
              "22-50-41.wav\",\"clips\":[\"2026-12-07 22-50-41.wav\",\"b \\\"2\\\".wav\"]}");
}

TEST(AlertJson, ALimitRowFillsItsOwnColumnsOfTheSummary) {
    fm::measure::PeriodValues period;
    period.start = sys_days{2026y / 12 / 8} + 10h;
    period.end = period.start + 15min;
    const std::string header = summaryHeader();
    const std::string row = summaryLimitRow(period, "night", 42, 2);
    auto fields = [](const std::string& line) {
        return static_cast<long>(std::count(line.begin(), line.end(), ','));
    };
    EXPECT_EQ(fields(row), fields(header));
    EXPECT_EQ(row.rfind("limit,2026-12-08T10:00:00.000Z,2026-12-08T10:15:00.000Z,,", 0), 0u);
    EXPECT_EQ(row.substr(row.size() - 12), ",night,42,2\n");
    EXPECT_EQ(header.substr(header.size() - 41), ",limit,limit_seconds_over,limit_episodes\n");
    EXPECT_EQ(fields(summaryPeriodRow(period)), fields(header));
}

}  // namespace
}  // namespace fm::report
