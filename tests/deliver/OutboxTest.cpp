// The outbox's files as a later run of the program finds them, and the line protocol's escaping.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "deliver/LineProtocol.h"
#include "deliver/Outbox.h"
#include "tests/deliver/Servers.h"

namespace fm::deliver {
namespace {

using std::chrono::seconds;
const auto t0 = std::chrono::system_clock::time_point(seconds(1'700'000'000));

std::unique_ptr<Outbox> open(const std::string& dir, std::uint64_t budget, Say say = {}) {
    std::string error;
    auto box = Outbox::open(dir, budget, "test outbox", std::move(say), &error);
    EXPECT_TRUE(box) << error;
    return box;
}

TEST(Outbox, KeepsOrderAndCursorAcrossReopenAndCutsATornTail) {
    const std::string dir = test::freshDir("outbox-reopen");
    {
        auto box = open(dir, 1 << 20);
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(box->append("m" + std::to_string(i), t0 + seconds(i)));
        const auto first = box->readNext(4, 1 << 20);
        ASSERT_EQ(first.size(), 4u);
        EXPECT_EQ(first[3].payload, "m3");
        box->acknowledge(3);  // the fourth is still in flight when the program stops
    }
    // A kill in the middle of the next write leaves half a record behind.
    std::filesystem::path segment;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() == ".seg") segment = e.path();
    }
    std::ofstream(segment, std::ios::app | std::ios::binary)
        << std::string("\x20\0\0\0\x11\x22", 6);

    std::vector<std::string> said;
    auto box = open(dir, 1 << 20, [&](const std::string& l) { said.push_back(l); });
    EXPECT_EQ(box->cursor(), 3u);
    EXPECT_EQ(box->end(), 10u);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("incomplete"), std::string::npos);
    EXPECT_EQ(box->status().backlog, 7u);
    EXPECT_NEAR(box->status().oldestAgeSeconds,
                std::chrono::duration<double>(std::chrono::system_clock::now() - t0).count() - 3,
                5);
    ASSERT_TRUE(box->append("m10", t0 + seconds(10)));  // after the cut, not after the torn bytes
    const auto rest = box->readNext(100, 1 << 20);
    ASSERT_EQ(rest.size(), 8u);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(rest[i].index, i + 3);
        EXPECT_EQ(rest[i].payload, "m" + std::to_string(i + 3));
        EXPECT_EQ(rest[i].madeAt, t0 + seconds(static_cast<long>(i + 3)));
    }
    box->rewind();  // the receiver lost what was unacknowledged
    EXPECT_EQ(box->readNext(1, 1 << 20).at(0).payload, "m3");
    box->acknowledge(4);
    EXPECT_EQ(box->status().delivered, 1u);
}

TEST(Outbox, FullBudgetDropsTheOldestCountsThemAndSaysItOnce) {
    const std::string dir = test::freshDir("outbox-budget");
    std::vector<std::string> said;
    auto box = open(dir, 16 * 1024, [&](const std::string& l) { said.push_back(l); });
    const std::string filler(500, 'x');
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(box->append(std::to_string(i) + filler, t0));
    const auto s = box->status();
    EXPECT_GT(s.dropped, 60u);
    EXPECT_EQ(s.backlog + s.dropped, 100u);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("full"), std::string::npos);
    const auto left = box->readNext(1000, 1 << 20);
    ASSERT_EQ(left.size(), s.backlog);
    EXPECT_EQ(left.front().payload, std::to_string(s.dropped) + filler);  // the oldest went
    EXPECT_EQ(left.back().payload, "99" + filler);
    std::uint64_t bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) bytes += e.file_size();
    EXPECT_LE(bytes, 16u * 1024 + 64);
    // Delivered segments are removed; reopened, nothing delivered comes back.
    box->acknowledge(left.back().index + 1);
    int segments = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        segments += e.path().extension() == ".seg";
    }
    EXPECT_EQ(segments, 1);  // the one being written
    box.reset();
    box = open(dir, 16 * 1024);
    EXPECT_EQ(box->status().backlog, 0u);
    EXPECT_TRUE(box->readNext(10, 1 << 20).empty());
    std::string error;
    EXPECT_FALSE(Outbox::open(dir, 16 * 1024, "second", {}, &error));  // one writer per folder
    EXPECT_NE(error.find("in use"), std::string::npos);
}

TEST(Outbox, AFullDiskIsSaidOnceCountedAndTheCallerGoesOn) {
    const std::string dir = test::freshDir("outbox-full-disk");
    std::filesystem::create_symlink("/dev/full", dir + "/00000000000000000000.seg");
    std::vector<std::string> said;
    auto box = open(dir, 1 << 20, [&](const std::string& l) { said.push_back(l); });
    EXPECT_FALSE(box->append("a", t0));
    EXPECT_FALSE(box->append("b", t0));
    const auto s = box->status();
    EXPECT_TRUE(s.diskProblem);
    EXPECT_EQ(s.dropped, 2u);
    EXPECT_EQ(s.backlog, 0u);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("No space left"), std::string::npos) << said[0];
}

TEST(LineProtocol, EscapesSortsTagsAndLeavesOutWhatItCannotSay) {
    EXPECT_EQ(
        lineProtocolPoint(
            "sound level", {{"name", "Pole 3,north"}, {"input", "mic=1"}},
            {{"LAeq 1s", 52.25}, {"LAFmax", -std::numeric_limits<double>::infinity()}, {"n", 3}},
            1'700'000'000'123'456'789),
        "sound\\ level,input=mic\\=1,name=Pole\\ 3\\,north LAeq\\ 1s=52.25,n=3 "
        "1700000000123456789");
    EXPECT_EQ(lineProtocolPoint("m", {{"empty", ""}, {"trail", "a\\"}}, {{"x", 0.1}}, 5),
              "m,trail=a\\\\ x=0.1 5");
    EXPECT_EQ(lineProtocolPoint("m", {}, {{"x", std::numeric_limits<double>::quiet_NaN()}}, 5), "");
}

}  // namespace
}  // namespace fm::deliver
