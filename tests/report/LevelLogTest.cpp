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

#include "report/LevelLog.h"

namespace fm::report {
using fm::measure::SoundLevelSnapshot;
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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(LevelLog, NewFileGetsTheHeaderOnceAndRowsAppendAcrossRuns) {
    const fs::path path = tempPath("append");
    fs::remove(path);
    SoundLevelSnapshot levels;
    levels.LAeq1s = 61.044;
    levels.LAFmax1s = 70.5;
    levels.LCpeak1s = 88.996;
    levels.LZeq1s = -3.25;
    levels.calibrated = true;
    // 2026-12-07T23:50:17.123Z
    const auto time =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1796687417123));
    const std::string row = levelLogRow(time, levels, {12.346, -90.04, 4096});
    EXPECT_EQ(row, "2026-12-07T23:50:17.123Z,61.04,70.50,89.00,-3.25,12.35,-90.0,1,4096\n");

    std::string error;
    for (int run = 0; run < 2; ++run) {
        auto log = LevelLogFile::open(path, &error);
        ASSERT_NE(log, nullptr) << error;
        EXPECT_TRUE(log->append(row, &error)) << error;
        EXPECT_TRUE(log->append(row, &error)) << error;
    }
    const auto all = lines(readText(path));
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0] + "\n", levelLogHeader());
    EXPECT_EQ(all[0],
              "time_utc,LAeq_1s_dB,LAFmax_1s_dB,LCpeak_1s_dB,LZeq_1s_dB,raw_level,yaw_deg,"
              "calibrated,frames_dropped");
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_EQ(all[i] + "\n", row);
    }
    fs::remove(path);
}

TEST(LevelLog, FailuresNameThePathAndNeverLeaveATornRow) {
    std::string error;
    EXPECT_EQ(LevelLogFile::open("/nonexistent-fieldmeter-dir/levels.csv", &error), nullptr);
    EXPECT_EQ(error, "/nonexistent-fieldmeter-dir/levels.csv: No such file or directory");
    EXPECT_EQ(LevelLogFile::open("/dev/full", &error), nullptr);  // the header cannot be written
    EXPECT_EQ(error, "/dev/full: No space left on device");

    // A file size limit lets the disk take only part of a row: that part is cut off again.
    const fs::path path = tempPath("torn");
    fs::remove(path);
    auto log = LevelLogFile::open(path, &error);
    ASSERT_NE(log, nullptr) << error;
    const std::string row = levelLogRow(std::chrono::system_clock::now(), {}, {});
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
    log = LevelLogFile::open(path, &error);
    ASSERT_NE(log, nullptr) << error;
    ASSERT_TRUE(log->append(row, &error)) << error;
    log.reset();
    EXPECT_EQ(readText(path), levelLogHeader() + "2026-12-07T2\n" + row);
    fs::remove(path);
}

}  // namespace
}  // namespace fm::report
