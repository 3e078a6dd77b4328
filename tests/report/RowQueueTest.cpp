// Rows kept through a write failure reach the file, once it takes rows again, in their order.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/RowQueue.h"

namespace fm::report {
namespace {

using namespace std::chrono_literals;

TEST(RowQueue, RowsKeptThroughAFailureAreWrittenAgainInTheirOrder) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("fm-row-queue-" + std::to_string(::getpid()) + ".csv");
    std::filesystem::remove(path);
    std::string error;
    int said = 0;
    RowQueue queue(CsvFile::open(path, "n\n", &error), "the log", [&](auto&) { ++said; });
    const auto t0 = RowQueue::Clock::now();
    queue.add("1\n", t0);
    // A full disk: a file size limit at the file's size.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{}, full{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    full = {std::filesystem::file_size(path), saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    queue.add("2\n", t0);
    queue.add("3\n", t0 + 400ms);
    queue.retry(t0 + 1s);  // still full
    queue.add("4\n", t0 + 1100ms);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    queue.retry(t0 + 1500ms);  // within a second of the last try: not yet
    EXPECT_EQ(queue.pending(), 3u);
    queue.retry(t0 + 2s);
    queue.add("5\n", t0 + 2s);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "n\n1\n2\n3\n4\n5\n");
    EXPECT_EQ(said, 2);  // the failure and the recovery, once each
    ::signal(SIGXFSZ, SIG_DFL);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace fm::report
