// Rows kept through a write failure reach the file once it takes rows again, in the order they
// were made.
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

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(RowQueue, RowsKeptThroughAFailureAreWrittenAgainInTheirOrder) {
    const fs::path path =
        fs::temp_directory_path() / ("fm-row-queue-" + std::to_string(::getpid()) + ".csv");
    fs::remove(path);
    std::string error;
    auto file = CsvFile::open(path, "n\n", &error);
    ASSERT_NE(file, nullptr) << error;
    std::vector<std::string> said;
    RowQueue queue(std::move(file), "the log", [&](const std::string& s) { said.push_back(s); });
    const auto t0 = RowQueue::Clock::now();
    queue.add("1\n", t0);

    // The disk is full (a file size limit at the file's size): rows are kept.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit full = saved;
    full.rlim_cur = fs::file_size(path);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    queue.add("2\n", t0);
    queue.add("3\n", t0 + 400ms);
    queue.retry(t0 + 1s);  // still full
    queue.add("4\n", t0 + 1100ms);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(queue.pending(), 3u);

    queue.retry(t0 + 1500ms);  // within a second of the last try: not yet
    EXPECT_EQ(queue.pending(), 3u);
    queue.retry(t0 + 2s);
    queue.add("5\n", t0 + 2s);
    EXPECT_EQ(queue.pending(), 0u);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "n\n1\n2\n3\n4\n5\n");
    EXPECT_EQ(said.size(), 2u);  // the failure and the recovery, once each
    fs::remove(path);
}

}  // namespace
}  // namespace fm::report
