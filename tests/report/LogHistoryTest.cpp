// The history read back from the day files: each reduction over a step, the days a range
// touches and no others, and rows being written or torn left out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "report/LevelLog.h"
#include "report/LogHistory.h"

namespace fm::report {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

constexpr std::int64_t kMidnight = 1796684400000;  // 2026-12-08T00:00:00+01:00

// A second closing at `closedMs` with LAeq,1s `laeq`, LAFmax,1s laeq + 10, LAFmin,1s laeq - 10
// (dB, calibrated to 100 dB at full scale).
std::string rowOf(std::int64_t closedMs, double laeq,
                  fm::measure::InputKind input = fm::measure::InputKind::Mic) {
    fm::measure::SecondRecord s;
    s.input = input;
    s.calibrated = true;
    s.calibrationOffsetDb = 100.0;
    s.closedAt = Clock::time_point(std::chrono::milliseconds(closedMs));
    auto ms = [](double db) { return 0.5 * std::pow(10.0, (db - 100.0) / 10.0); };
    s.meanSquareA = s.meanSquareC = s.meanSquareZ = ms(laeq);
    s.maxMeanSquareAF = ms(laeq + 10);
    s.minMeanSquareAF = ms(laeq - 10);
    s.peakC = 0.1;
    s.bandMeanSquare.fill(0.0);
    return levelLogRow(s, {});
}

TEST(LogHistory, EachQuantityReducedByItsOwnRuleFromTheDaysAskedForOnly) {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const fs::path folder =
        fs::temp_directory_path() / ("fm-history-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    // The 7th holds only its header; the 8th three seconds of 60, 70 and 80 dB, a second
    // without levels, a foreign row and a torn one; the 9th one second.
    std::ofstream(folder / "2026-12-07.csv") << levelLogHeader();
    const std::string lost = rowOf(kMidnight + 4000, 50, fm::measure::InputKind::Lost);
    std::ofstream(folder / "2026-12-08.csv")
        << levelLogHeader() << rowOf(kMidnight + 1000, 60) << rowOf(kMidnight + 2000, 70)
        << rowOf(kMidnight + 3000, 80) << lost << "garbage,1,2\n"
        << rowOf(kMidnight + 5000, 90).substr(0, 40);
    std::ofstream(folder / "2026-12-09.csv")
        << levelLogHeader() << rowOf(kMidnight + 86'401'000, 40);
    std::ofstream(folder / "notes.csv") << "x\n1\n";

    EXPECT_EQ(historyDays(folder), (std::vector<std::string>{"2026-12-08", "2026-12-09"}));

    HistoryQuery q;
    q.fromMs = kMidnight;
    q.toMs = kMidnight + 86'400'000;
    q.keys = {"LAeq_1s", "LAFmax_1s", "LAFmin_1s"};
    q.stepMs = 3000;
    std::string error;
    HistorySeries s = readHistory(folder, q, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(s.daysRead, 1u);
    ASSERT_EQ(s.startMs, (std::vector<std::int64_t>{kMidnight}));
    // The energy mean of 60, 70 and 80 dB is not their mean (70) nor their highest.
    EXPECT_NEAR(*s.values[0][0], 10 * std::log10((1e6 + 1e7 + 1e8) / 3), 0.01);
    EXPECT_NEAR(*s.values[1][0], 90.0, 0.01);
    EXPECT_NEAR(*s.values[2][0], 50.0, 0.01);

    // At 1 s: each second as logged; the one without levels has none for LAeq; the torn one
    // is not there.
    q.stepMs = 1000;
    q.keys = {"LAeq_1s"};
    s = readHistory(folder, q, &error);
    ASSERT_EQ(s.startMs.size(), 3u);
    EXPECT_EQ(s.startMs[2], kMidnight + 2000);
    EXPECT_NEAR(*s.values[0][2], 80.0, 0.01);
    const std::string json = historyJson(q, s);
    EXPECT_NE(json.find("\"t\":[1796684400000,1796684401000,1796684402000],\"values\":[[60.00,"
                        "70.00,80.00]]}"),
              std::string::npos)
        << json;

    // A range of two days opens two; one without files answers nothing, not an error.
    q.toMs = kMidnight + 2 * 86'400'000;
    EXPECT_EQ(readHistory(folder, q, &error).daysRead, 2u);
    q.fromMs -= 10 * 86'400'000;
    q.toMs = q.fromMs + 86'400'000;
    s = readHistory(folder, q, &error);
    EXPECT_TRUE(s.startMs.empty() && error.empty());
    q.keys = {"LAF"};
    readHistory(folder, q, &error);
    EXPECT_NE(error.find("LAF: not a quantity of the log"), std::string::npos) << error;
    fs::remove_all(folder);
}

}  // namespace
}  // namespace fm::report
