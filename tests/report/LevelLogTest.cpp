// The sound-level log file: the header once per file, whole rows in a fixed format, no torn row
// when the disk takes only part of one, and no row glued to a torn one left by a power cut.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "measure/MicCorrection.h"
#include "report/CsvFile.h"
#include "report/DayLog.h"
#include "report/LevelLog.h"

namespace fm::report {
namespace {

namespace fs = std::filesystem;

fs::path tempPath(const char* name) {
    return fs::temp_directory_path() /
           ("fm-level-log-" + std::to_string(::getpid()) + "-" + name + ".csv");
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A second whose every level differs, so that a column fed from the wrong value shows.
fm::measure::SecondRecord loudSecond() {
    fm::measure::SecondRecord r;
    r.input = fm::measure::InputKind::Mic;
    // 2026-12-07T23:50:17.123Z
    r.closedAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796687417123));
    r.meanSquareA = 0.5 * 1e-2;  // -20 dBFS
    r.meanSquareC = 0.5 * 1e-3;  // -30
    r.meanSquareZ = 0.5 * 1e-4;  // -40
    r.maxMeanSquareAF = 0.5;     // 0
    r.minMeanSquareAF = 0.5e-5;  // -50
    r.peakC = 0.5;               // -3.01
    r.bandMeanSquare.fill(0.0);
    r.bandMeanSquare[17] = 0.5 * 1e-6;  // 1 kHz: -60
    r.overloadSamples = 7;
    r.calibrated = true;
    r.calibrationOffsetDb = 100.0;
    return r;
}

// The local time of the rows is Berlin's: an hour ahead of UTC in winter, two in summer.
void inBerlin() {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
}

TEST(LevelLog, EveryFieldOfARowAndTheHeaderOnceAcrossRuns) {
    inBerlin();
    const std::string header = levelLogHeader();
    EXPECT_EQ(header.substr(0, 214),
              "time_utc,time_local,LAeq_1s_dB,LAFmax_1s_dB,LCpeak_1s_dB,LZeq_1s_dB,LCeq_1s_dB,"
              "LAFmin_1s_dB,raw_level,yaw_deg,calibrated,frames_dropped,lost_frames,clock_step_s,"
              "overload,calibration_offset_db,input,"
              "LZeq_1s_20Hz_dB,");
    EXPECT_NE(header.find(",LZeq_1s_1kHz_dB,LZeq_1s_1.25kHz_dB,"), std::string::npos);
    EXPECT_EQ(header.substr(header.size() - 40), ",LZeq_1s_16kHz_dB,limits,mic_correction\n");

    fm::measure::SecondRecord stepped = loudSecond();
    stepped.lostFrames = 2205;
    stepped.clockStepSeconds = -3600.5;
    const std::string row = levelLogRow(stepped, {12.346, -90.04, 4096, "night;site"});
    std::string expected =
        "2026-12-07T23:50:17.123Z,2026-12-08T00:50:17.123+01:00,80.00,100.00,96.99,60.00,70.00,"
        "50.00,12.35,-90.0,1,4096,2205,-3600.50,7,100.00,mic";
    for (int b = 0; b < 30; ++b) {
        expected += b == 17 ? ",40.00" : ",-120.00";  // silence reads the floor, calibrated or not
    }
    EXPECT_EQ(row, expected + ",night;site,\n");  // no microphone correction
    // The correction's file, as one field whatever its name holds.
    fm::measure::setMicCorrectionInUse("unit 2, \"90\".txt");
    EXPECT_EQ(levelLogRow(stepped, {12.346, -90.04, 4096, "night;site"}),
              expected + ",night;site,\"unit 2, \"\"90\"\".txt\"\n");
    fm::measure::setMicCorrectionInUse("");

    // Without input: the time, the extras and why; no level, no overload count.
    fm::measure::SecondRecord lost = loudSecond();
    lost.input = fm::measure::InputKind::Lost;
    EXPECT_EQ(
        levelLogRow(lost, {0.0, std::nullopt, 0}),
        "2026-12-07T23:50:17.123Z,2026-12-08T00:50:17.123+01:00,,,,,,,0.00,,1,0,0,,,100.00,lost" +
            std::string(32, ',') + "\n");

    const fs::path path = tempPath("append");
    fs::remove(path);
    std::string error;
    for (int run = 0; run < 2; ++run) {
        auto log = CsvFile::open(path, header, &error);
        ASSERT_NE(log, nullptr) << error;
        EXPECT_TRUE(log->append(row, &error)) << error;
    }
    EXPECT_EQ(readText(path), header + row + row);
    // Another version's columns are refused rather than mixed in.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "time_utc,LAeq_1s_dB\n1,2\n";
    EXPECT_EQ(CsvFile::open(path, header, &error), nullptr);
    EXPECT_NE(error.find("its columns are not this version's"), std::string::npos) << error;
    fs::remove(path);
}

TEST(LevelLog, FailuresNameThePathAndNeverLeaveATornRow) {
    std::string error;
    EXPECT_EQ(CsvFile::open("/nonexistent-fieldmeter-dir/levels.csv", levelLogHeader(), &error),
              nullptr);
    EXPECT_EQ(error, "/nonexistent-fieldmeter-dir/levels.csv: No such file or directory");
    EXPECT_EQ(CsvFile::open("/dev/full", levelLogHeader(), &error),
              nullptr);                                      // the header cannot be written
    EXPECT_EQ(error, "/dev/full: No space left on device");  // a device, but not a reader

    // A file size limit lets the disk take only part of a row: that part is cut off again.
    const fs::path path = tempPath("torn");
    fs::remove(path);
    auto log = CsvFile::open(path, levelLogHeader(), &error);
    ASSERT_NE(log, nullptr) << error;
    const std::string row = levelLogRow(loudSecond(), {});
    ASSERT_TRUE(log->append(row, &error)) << error;
    const auto whole = fs::file_size(path);

    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = whole + row.size() / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool appended = log->append(row, &error);
    const auto afterCut = fs::file_size(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(appended);
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_EQ(afterCut, whole);
    ASSERT_TRUE(log->append(row, &error)) << error;  // room again: logging goes on
    log.reset();
    const std::string text = readText(path);
    EXPECT_EQ(text, levelLogHeader() + row + row);

    // A last row left without its end (a power cut): the next row starts on a line of its own.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << levelLogHeader() << "2026-12-07T2";
    log = CsvFile::open(path, levelLogHeader(), &error);
    ASSERT_NE(log, nullptr) << error;
    ASSERT_TRUE(log->append(row, &error)) << error;
    log.reset();
    EXPECT_EQ(readText(path), levelLogHeader() + "2026-12-07T2\n" + row);
    fs::remove(path);
}

TEST(LevelLog, ADayFileForEachLocalDayBegunAtLocalMidnight) {
    inBerlin();
    using std::chrono::milliseconds;
    using Clock = std::chrono::system_clock;
    // 2026-12-07T23:00:00.000Z is midnight in Berlin: the second that closes then is the 7th's
    // last, the next one the 8th's first. A summer second has its own offset.
    const Clock::time_point midnight(milliseconds(1796684400000));
    EXPECT_EQ(DayLog::dayOf(midnight), "2026-12-07");
    EXPECT_EQ(DayLog::dayOf(midnight + milliseconds(1000)), "2026-12-08");
    EXPECT_EQ(localTimeWithMilliseconds(Clock::time_point(milliseconds(1782863999007))),
              "2026-07-01T01:59:59.007+02:00");

    const fs::path folder = tempPath("days");
    fs::remove_all(folder);
    std::vector<std::string> said;
    std::string error;
    auto log = DayLog::open(
        folder, midnight - milliseconds(2000), [&](const std::string& s) { said.push_back(s); },
        &error);
    ASSERT_NE(log, nullptr) << error;
    const auto now = std::chrono::steady_clock::now();
    fm::measure::SecondRecord second = loudSecond();
    for (int i = -1; i <= 1; ++i) {
        second.closedAt = midnight + milliseconds(1000 * i);
        log->add(second.closedAt, levelLogRow(second, {}), now);
    }
    auto times = [&](const char* day) {
        std::vector<std::string> out;
        std::istringstream in(readText(folder / (std::string(day) + ".csv")));
        for (std::string line; std::getline(in, line);) {
            out.push_back(line.substr(0, line.find(',', line.find(',') + 1)));
        }
        return out;
    };
    const std::string names = "time_utc,time_local";
    EXPECT_EQ(
        times("2026-12-07"),
        (std::vector<std::string>{names, "2026-12-07T22:59:59.000Z,2026-12-07T23:59:59.000+01:00",
                                  "2026-12-07T23:00:00.000Z,2026-12-08T00:00:00.000+01:00"}));
    EXPECT_EQ(times("2026-12-08"),
              (std::vector<std::string>{names,
                                        "2026-12-07T23:00:01.000Z,2026-12-08T00:00:01.000+01:00"}));
    EXPECT_TRUE(said.empty());
    fs::remove_all(folder);
}

}  // namespace
}  // namespace fm::report
