// The history read from the day files: a whole day of one quantity at 1 s from a full day file
// (every column, the bands too), and 30 such days reduced to 10-minute steps. The files are made
// first (as the program writes them); the best of three reads is recorded.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSummary.h"
#include "report/DayLog.h"
#include "report/LevelLog.h"
#include "report/LogHistory.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

constexpr std::int64_t kFirstDayMs = 1796598000000;  // 2026-12-07T00:00:00+01:00
constexpr std::int64_t kDayMs = 86'400'000;

void writeDay(const fs::path& folder, int day) {
    const std::string name =
        fm::report::DayLog::dayOf(
            Clock::time_point(std::chrono::milliseconds(kFirstDayMs + day * kDayMs + kDayMs / 2))) +
        ".csv";
    std::ofstream out(folder / name, std::ios::binary);
    out << fm::report::levelLogHeader();
    fm::measure::SecondRecord second;
    second.input = fm::measure::InputKind::Mic;
    second.calibrated = true;
    second.calibrationOffsetDb = 100.0;
    std::string text;
    for (int s = 1; s <= 86'400; ++s) {
        const double wave = 0.5 + 0.45 * std::sin(s * 0.001);
        second.closedAt =
            Clock::time_point(std::chrono::milliseconds(kFirstDayMs + day * kDayMs + s * 1000));
        second.meanSquareA = 1e-6 * wave;
        second.meanSquareC = 2e-6 * wave;
        second.meanSquareZ = 3e-6 * wave;
        second.maxMeanSquareAF = 4e-6 * wave;
        second.minMeanSquareAF = 0.5e-6 * wave;
        second.peakC = 1e-2 * wave;
        for (std::size_t b = 0; b < second.bandMeanSquare.size(); ++b) {
            second.bandMeanSquare[b] = 1e-7 * wave * static_cast<double>(b + 1);
        }
        text += fm::report::levelLogRow(second, {50.0, std::nullopt, 0});
        if (text.size() > (1 << 20)) {
            out << text;
            text.clear();
        }
    }
    out << text;
}

double bestMs(const fs::path& folder, const fm::report::HistoryQuery& query, std::size_t* steps) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        const auto series = fm::report::readHistory(folder, query, &error);
        const std::string json = fm::report::historyJson(query, series);
        best = std::min(best, std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
        *steps = series.startMs.size();
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
        }
    }
    return best;
}

}  // namespace

int main() {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const fs::path folder =
        fs::temp_directory_path() / ("fm-history-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const int days =
        std::getenv("FM_HISTORY_BENCH_DAYS") ? std::atoi(std::getenv("FM_HISTORY_BENCH_DAYS")) : 30;
    for (int day = 0; day < days; ++day) {
        writeDay(folder, day);
    }
    fm::report::HistoryQuery day;
    day.fromMs = kFirstDayMs + 3 * kDayMs;
    day.toMs = day.fromMs + kDayMs;
    day.keys = {"LAeq_1s"};
    day.stepMs = 1000;
    std::size_t steps = 0;
    const double dayMs = bestMs(folder, day, &steps);
    std::printf("a day at 1 s: %zu steps\n", steps);
    // The spectrogram's query: the 30 bands of the day in 72-s steps (not a target: a figure).
    fm::report::HistoryQuery bands = day;
    bands.keys.clear();
    for (const char* b :
         {"20Hz",  "25Hz",   "31.5Hz",  "40Hz",   "50Hz",    "63Hz",   "80Hz",    "100Hz",
          "125Hz", "160Hz",  "200Hz",   "250Hz",  "315Hz",   "400Hz",  "500Hz",   "630Hz",
          "800Hz", "1kHz",   "1.25kHz", "1.6kHz", "2kHz",    "2.5kHz", "3.15kHz", "4kHz",
          "5kHz",  "6.3kHz", "8kHz",    "10kHz",  "12.5kHz", "16kHz"}) {
        bands.keys.push_back(std::string("LZeq_1s_") + b);
    }
    bands.stepMs = 72'000;
    const double bandsMs = bestMs(folder, bands, &steps);
    fm::report::HistoryQuery month = day;
    month.fromMs = kFirstDayMs;
    month.toMs = kFirstDayMs + 30 * kDayMs;
    month.stepMs = 600'000;
    const double monthMs = bestMs(folder, month, &steps);
    std::printf("30 days at 10 min: %zu steps\n", steps);
    fs::remove_all(folder);
    fm::bench::recordSummary("history_day_ms", dayMs);
    fm::bench::recordSummary("history_month_ms", monthMs);
    fm::bench::recordSummary("history_bands_day_ms", bandsMs);
    return 0;
}
