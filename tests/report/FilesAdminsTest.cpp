// The report files against what admins do to them while the program runs: removed, moved away
// by logrotate, the folder removed, emptied in place, a second program on the same file, a disk
// that fills up until the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "report/RowQueue.h"
#include "tests/report/FullDisk.h"

namespace fm::report {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

const std::string kHeader = "time_utc,LAeq_1s_dB\n";

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Queue {
    explicit Queue(const fs::path& path) {
        std::string error;
        auto file = CsvFile::open(path, kHeader, &error);
        EXPECT_NE(file, nullptr) << error;
        queue = std::make_unique<RowQueue>(
            std::move(file), "the log", [this](const std::string& line) { said.push_back(line); });
    }
    std::vector<std::string> said;
    std::unique_ptr<RowQueue> queue;
};

TEST(FilesAdmins, AFileRemovedMovedOrEmptiedIsBegunAgainAtItsPathWithItsHeader) {
    const fs::path folder =
        fs::temp_directory_path() / ("fm-admins-" + std::to_string(::getpid())) / "logs";
    fs::remove_all(folder.parent_path());
    fs::create_directories(folder);
    const fs::path log = folder / "levels.csv";
    Queue q(log);
    auto now = RowQueue::Clock::now();
    q.queue->add("1,50\n", now);

    // logrotate: moved away; the next row goes to a new file at the path, none to the old one.
    fs::rename(log, folder / "levels.csv.1");
    q.queue->add("2,51\n", now += seconds(1));
    EXPECT_EQ(readText(folder / "levels.csv.1"), kHeader + "1,50\n");
    EXPECT_EQ(readText(log), kHeader + "2,51\n");
    ASSERT_EQ(q.said.size(), 1u);
    EXPECT_EQ(q.said[0], "the log " + log.string() +
                             " was removed, moved away or emptied; it is begun again there with "
                             "its header");

    // The whole folder removed: made again within a second, before any row comes.
    fs::remove_all(folder);
    q.queue->retry(now += seconds(1));
    EXPECT_EQ(readText(log), kHeader);
    q.queue->add("3,52\n", now += seconds(1));
    // Emptied in place (copytruncate): the rows start under the header again.
    fs::resize_file(log, 0);
    q.queue->add("4,53\n", now += seconds(1));
    EXPECT_EQ(readText(log), kHeader + "4,53\n");
    EXPECT_EQ(q.said.size(), 3u);
    EXPECT_EQ(q.queue->finish(), 0u);
    fs::remove_all(folder.parent_path());
}

TEST(FilesAdmins, ASecondWriterIsRefusedWithTheHoldersProcessIdAndTheLockFollowsAReopen) {
    const fs::path log =
        fs::temp_directory_path() / ("fm-admins-lock-" + std::to_string(::getpid()) + ".csv");
    fs::remove(log);
    Queue first(log);
    std::string error;
    EXPECT_EQ(CsvFile::open(log, kHeader, &error), nullptr);
    EXPECT_EQ(error, log.string() + ": in use by process " + std::to_string(::getpid()) +
                         " (another fieldmeter?); two programs never write into one file");

    // After logrotate moved it, a reopen holds the new file and lets the old one go.
    fs::rename(log, log.string() + ".1");
    first.queue->reopen(RowQueue::Clock::now());
    EXPECT_EQ(readText(log), kHeader);
    EXPECT_NE(CsvFile::open(log.string() + ".1", kHeader, &error), nullptr) << error;
    EXPECT_EQ(CsvFile::open(log, kHeader, &error), nullptr);
    fs::remove(log);
    fs::remove(log.string() + ".1");
}

TEST(FilesAdmins, RowsADiskTooFullForThemKeepsAreWrittenAtTheEndOrCountedAsLost) {
    test::FullDisk disk("admins-full");
    if (!disk.mounted()) {
        GTEST_SKIP() << "this process may not mount a tmpfs (not root)";
    }
    // Rows of more than a page: each one needs room the full disk has not.
    const std::string row = std::string(5000, '7') + "\n";
    Queue lost(disk.root() / "lost.csv");
    Queue late(disk.root() / "late.csv");
    disk.fill();
    auto now = RowQueue::Clock::now();
    for (int i = 0; i < 10; ++i) {
        lost.queue->add(row, now);
        late.queue->add(row, now);
        now += seconds(1);
    }
    EXPECT_EQ(lost.queue->pending(), 10u);
    EXPECT_EQ(lost.queue->finish(), 10u);
    ASSERT_EQ(lost.said.size(), 2u);
    EXPECT_EQ(lost.said[1].rfind("10 rows of the log could not be written and are lost: " +
                                     (disk.root() / "lost.csv").string() + ": ",
                                 0),
              0u)
        << lost.said[1];
    EXPECT_EQ(readText(disk.root() / "lost.csv"), kHeader);

    // Room again just before the end: the last try writes every row kept.
    disk.makeRoom();
    EXPECT_EQ(late.queue->finish(), 0u);
    std::string all = kHeader;
    for (int i = 0; i < 10; ++i) {
        all += row;
    }
    EXPECT_EQ(readText(disk.root() / "late.csv"), all);
}

}  // namespace
}  // namespace fm::report
