// The report files against what admins do while the program runs: removed, moved away by
// logrotate, the folder removed, emptied in place, and a second program on the same file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/RowQueue.h"

namespace fm::report {
namespace {

namespace fs = std::filesystem;
const std::string kHeader = "time_utc,LAeq_1s_dB\n";

std::string readText(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

TEST(FilesAdmins, AFileMovedRemovedOrEmptiedIsBegunAgainAtItsPathAndOneProgramHoldsIt) {
    const fs::path folder = fs::temp_directory_path() / ("fm-admins" + std::to_string(::getpid()));
    const fs::path log = folder / "logs" / "levels.csv";
    fs::create_directories(log.parent_path());
    std::string error;
    std::vector<std::string> said;
    RowQueue queue(CsvFile::open(log, kHeader, &error), "the log",
                   [&](const std::string& line) { said.push_back(line); });
    // A second writer is refused, naming the holder.
    EXPECT_EQ(CsvFile::open(log, kHeader, &error), nullptr);
    EXPECT_EQ(error, log.string() + ": in use by process " + std::to_string(::getpid()) +
                         " (another fieldmeter?); two programs never write into one file");
    auto now = RowQueue::Clock::now();
    queue.add("1,50\n", now);
    fs::rename(log, log.string() + ".1");  // logrotate
    queue.add("2,51\n", now += std::chrono::seconds(1));
    EXPECT_EQ(readText(log.string() + ".1"), kHeader + "1,50\n");
    EXPECT_EQ(readText(log), kHeader + "2,51\n");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0], "the log " + log.string() +
                           " was removed, moved away or emptied; it is begun again there with "
                           "its header");
    // The moved file is let go; the new one is held.
    EXPECT_NE(CsvFile::open(log.string() + ".1", kHeader, &error), nullptr) << error;
    EXPECT_EQ(CsvFile::open(log, kHeader, &error), nullptr);

    // The folder removed: made again within a second, before any row comes.
    fs::remove_all(log.parent_path());
    queue.retry(now += std::chrono::seconds(1));
    EXPECT_EQ(readText(log), kHeader);
    fs::resize_file(log, 0);  // copytruncate
    queue.add("3,52\n", now += std::chrono::seconds(1));
    EXPECT_EQ(readText(log), kHeader + "3,52\n");
    EXPECT_EQ(said.size(), 3u);
    EXPECT_EQ(queue.finish(), 0u);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace fm::report
