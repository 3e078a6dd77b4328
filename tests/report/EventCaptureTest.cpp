// The capture between the measuring thread and the clip writer's: an input that stops during a
// loud moment ends the event there at once, and the clip holds exactly the samples fed from the
// pre-roll before the first loud tick to that stop.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

#include "measure/Decibels.h"
#include "measure/Measurement.h"
#include "report/EventCapture.h"
#include "report/EventLog.h"
#include "tests/report/FullDisk.h"

namespace fm::report {
namespace {

namespace fs = std::filesystem;

TEST(EventCapture, AStopEndsTheEventThereAndTheClipHoldsThePreRollAndEverySampleSince) {
    const fs::path folder = fs::temp_directory_path() / ("fm-events-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    // A second of 1 kHz at -60 dBFS, then 0.75 s at -6 dBFS from the 11th tick on.
    std::vector<float> fed(static_cast<std::size_t>(1.75 * 44100));
    for (std::size_t i = 0; i < fed.size(); ++i) {
        fed[i] = static_cast<float>((i < 44100 ? 0.001 : 0.5) *
                                    std::sin(2 * M_PI * 1000 / 44100.0 * static_cast<double>(i)));
    }
    // Overloaded samples before the pre-roll and within the event: only the event's count.
    fed[100] = 1.0f;
    for (std::size_t i = 60000; i < 60010; ++i) {
        fed[i] = -1.0f;
    }
    fm::measure::Measurement m;
    EventClips clips({folder.string(), 1'000'000'000, 44100, 44100});
    EventCapture::Options options;
    options.thresholds.lafDb = -20.0;
    options.preRollSeconds = 0.5;
    EventCapture capture(options, m.meter(), clips);
    m.setObserver(&capture);
    m.start();
    m.setInput(fm::measure::InputKind::File);
    std::thread audio([&] {
        for (std::size_t at = 0; at < fed.size(); at += 1024) {
            m.feed(fed.data() + at,
                   static_cast<std::uint32_t>(std::min<std::size_t>(1024, fed.size() - at)));
        }
    });
    audio.join();
    m.settle();
    EXPECT_TRUE(capture.underWay());
    // Nothing comes after the stop: the event ends all the same, with the 5 s post-roll unused.
    m.setInput(fm::measure::InputKind::Ended);
    EventClips::Finished done;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!clips.takeFinished(&done) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    m.setObserver(nullptr);
    ASSERT_FALSE(done.clip.empty()) << done.refusal;
    EXPECT_FALSE(capture.underWay());
    EXPECT_EQ(done.event.trigger, fm::measure::EventTrigger::LAF);
    EXPECT_NEAR(std::chrono::nanoseconds(done.event.endNs - done.event.startNs).count() / 1e9, 0.75,
                1e-6);
    EXPECT_NEAR(fm::measure::meanSquareToDb(done.event.values.maxMeanSquareAF), -6.02, 0.05);
    EventSummary summary;
    summary.values = done.event.values;
    const std::string row = eventLogRow(summary);
    EXPECT_EQ(row.substr(row.rfind(',')), ",10\n") << row;

    SF_INFO info{};
    SNDFILE* f = sf_open((folder / done.clip).c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> clip(static_cast<std::size_t>(info.frames));
    sf_read_float(f, clip.data(), info.frames);
    sf_close(f);
    EXPECT_EQ(clip, std::vector<float>(fed.begin() + 44100 - 22050, fed.end()));
    fs::remove_all(folder);
}

TEST(EventCapture, AClipTheDiskCannotHoldWholeIsNotKeptAndItsRowSaysHowMuchWasWrittenAndWhy) {
    test::FullDisk disk("fm-clips", 256 * 1024);
    if (!disk.mounted) {
        GTEST_SKIP() << "this process may not mount a tmpfs (not root)";
    }
    const std::vector<float> samples(2 * 44100, 0.25f);  // 353 kB
    EventClips clips({disk.root.string(), 1'000'000'000, 44100, samples.size()});
    ASSERT_TRUE(clips.begin(0, samples.size()));
    ASSERT_EQ(clips.write(samples.data(), samples.size()), samples.size());
    EventRecord event;
    event.clipBegun = true;
    ASSERT_TRUE(clips.end(event));
    clips.stop();
    EventClips::Finished done;
    ASSERT_TRUE(clips.takeFinished(&done));
    EXPECT_EQ(done.clip, "");
    EXPECT_EQ(done.refusal.rfind("cannot write " + disk.root.string() + "/", 0), 0u);
    // What reached the disk before it was full: most of its 256 kB. Nothing is left of it.
    EXPECT_GT(done.writtenFrames, 40'000u);
    EXPECT_LT(done.writtenFrames, 65'536u);
    EXPECT_TRUE(fs::is_empty(disk.root));

    EventSummary summary;
    summary.clipWrittenSeconds = 1.25;
    summary.whyNotKept = "cannot write a, \"b\"";
    const std::string row = eventLogRow(summary),
                      end = ",0,,0,1.250,\"cannot write a, \"\"b\"\"\",0\n";
    EXPECT_EQ(row.substr(row.size() - end.size()), end);  // calibrated, clip, kept, these, overload
}

// The budget counts the clip being written as it grows: one that would pass it is not kept,
// while one that fits is.
TEST(EventClips, AClipThatGrowsPastTheBudgetIsNotKept) {
    const fs::path folder = fs::temp_directory_path() / ("fm-budget-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    EventClips clips({folder.string(), 200'000, 44100, 20'000});
    const std::vector<float> batch(10'000, 0.25f);  // 40 kB
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (const int batches : {8, 3}) {  // 320 kB: too much; 120 kB: fits
        ASSERT_TRUE(clips.begin(batches * 1'000'000'000LL, 1000));
        for (std::size_t sent = 0; sent < batches * batch.size();) {
            sent +=
                clips.write(batch.data() + sent % batch.size(), batch.size() - sent % batch.size());
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        }
        EventRecord event;
        event.clipBegun = true;
        ASSERT_TRUE(clips.end(event));
        EventClips::Finished done;
        while (!clips.takeFinished(&done) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        EXPECT_EQ(done.clip.empty(), batches == 8) << done.refusal;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace fm::report
