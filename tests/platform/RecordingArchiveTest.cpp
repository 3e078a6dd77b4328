// The last recording is kept before "output2.caf" is made anew: named by the date stored in it,
// never over a file already kept, and with its motion file only when that was written after it
// began, and its summary beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/audiofile/AudioFileWriter.h"
#include "platform/audiofile/RecordingArchive.h"

namespace fm::platform {
namespace {

namespace fs = std::filesystem;

class RecordingArchive : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("fm-archive-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // "output2.caf" as the program writes it, recorded at `date`, holding `frames` frames.
    void record(const std::string& date, int frames) {
        OSStatus status = kNoErr;
        std::string error;
        auto writer =
            AudioFileWriter::create(folder_ / "output2.caf", AudioFileType::CAF, captureFormat(),
                                    &status, &error, AudioFileWriter::kDefaultQueueFrames, date);
        ASSERT_NE(writer, nullptr) << error;
        std::vector<std::int16_t> samples(static_cast<std::size_t>(frames), 1000);
        AudioBufferList list{};
        list.mNumberBuffers = 1;
        list.mBuffers[0].mNumberChannels = 1;
        list.mBuffers[0].mDataByteSize = static_cast<std::uint32_t>(samples.size() * 2);
        list.mBuffers[0].mData = samples.data();
        if (frames > 0) {
            writer->writeAsync(static_cast<std::uint32_t>(frames), &list);
        }
        ASSERT_EQ(writer->dispose(), kNoErr);
    }
    void writeText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
    std::string textOf(const fs::path& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path folder_;
};

TEST_F(RecordingArchive, KeepsByTheRecordedDateNeverOverAKeptFileAndOnlyItsOwnMotion) {
    // An empty file (the engine's start without a recording) is not kept.
    record("2026-12-07 22:15:03", 0);
    std::string keptAs = "unset";
    std::string error;
    ASSERT_TRUE(keepLastRecording(folder_.string(), &keptAs, &error)) << error;
    EXPECT_EQ(keptAs, "unset");
    EXPECT_TRUE(fs::exists(folder_ / "output2.caf"));

    // A recording whose name is taken already gets the next free one, with the motion written
    // at its end.
    record("2026-12-07 22:15:03", 4410);
    fs::create_directories(folder_ / "recordings");
    writeText(folder_ / "recordings" / "2026-12-07 22-15-03.caf", "kept before");
    writeText(folder_ / "rawAccel.out", "its motion");
    writeText(folder_ / "output2.txt", "its levels");
    ASSERT_TRUE(keepLastRecording(folder_.string(), &keptAs, &error)) << error;
    const fs::path second = folder_ / "recordings" / "2026-12-07 22-15-03 (2).caf";
    EXPECT_EQ(keptAs, second.string());
    EXPECT_EQ(textOf(folder_ / "recordings" / "2026-12-07 22-15-03.caf"), "kept before");
    SF_INFO info{};
    SNDFILE* f = sf_open(second.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    sf_close(f);
    EXPECT_EQ(info.frames, 4410);
    EXPECT_EQ(textOf(folder_ / "recordings" / "2026-12-07 22-15-03 (2) motion.wav"), "its motion");
    EXPECT_EQ(textOf(folder_ / "recordings" / "2026-12-07 22-15-03 (2).txt"), "its levels");
    EXPECT_FALSE(fs::exists(folder_ / "output2.txt"));
    EXPECT_FALSE(fs::exists(folder_ / "output2.caf"));

    // A motion file older than the recording belongs to an earlier one: it stays.
    record("2026-12-07 22:20:00", 441);
    writeText(folder_ / "rawAccel.out", "older motion");
    std::tm hourBefore{};
    hourBefore.tm_year = 2026 - 1900;
    hourBefore.tm_mon = 11;
    hourBefore.tm_mday = 7;
    hourBefore.tm_hour = 21;
    hourBefore.tm_min = 20;
    hourBefore.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&hourBefore), 0}, {std::mktime(&hourBefore), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder_ / "rawAccel.out").c_str(), times, 0), 0);
    ASSERT_TRUE(keepLastRecording(folder_.string(), &keptAs, &error)) << error;
    EXPECT_EQ(keptAs, (folder_ / "recordings" / "2026-12-07 22-20-00.caf").string());
    EXPECT_EQ(textOf(folder_ / "rawAccel.out"), "older motion");
    EXPECT_FALSE(fs::exists(folder_ / "recordings" / "2026-12-07 22-20-00 motion.wav"));

    // A motion file without a recording is left alone; a recording no reader can open, but not
    // empty (a disk that failed under it), is kept all the same, by the time it was written.
    ASSERT_TRUE(keepLastRecording(folder_.string(), &keptAs, &error)) << error;
    EXPECT_EQ(textOf(folder_ / "rawAccel.out"), "older motion");
    writeText(folder_ / "output2.caf", "caff but torn");
    const timespec written[2] = {{std::mktime(&hourBefore), 0}, {std::mktime(&hourBefore), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder_ / "output2.caf").c_str(), written, 0), 0);
    ASSERT_TRUE(keepLastRecording(folder_.string(), &keptAs, &error)) << error;
    EXPECT_EQ(keptAs, (folder_ / "recordings" / "2026-12-07 21-20-00.caf").string());
    EXPECT_EQ(textOf(folder_ / "recordings" / "2026-12-07 21-20-00.caf"), "caff but torn");
    // The older motion file, written with it, goes along.
    EXPECT_EQ(textOf(folder_ / "recordings" / "2026-12-07 21-20-00 motion.wav"), "older motion");
}

TEST_F(RecordingArchive, ARecordingThatCannotBeKeptIsReportedAndLeftInPlace) {
    record("2026-12-07 22:15:03", 441);
    writeText(folder_ / "recordings", "a file in the folder's place");
    std::string keptAs;
    std::string error;
    EXPECT_FALSE(keepLastRecording(folder_.string(), &keptAs, &error));
    EXPECT_NE(error.find("recordings"), std::string::npos) << error;
    EXPECT_TRUE(fs::exists(folder_ / "output2.caf"));
}

}  // namespace
}  // namespace fm::platform
