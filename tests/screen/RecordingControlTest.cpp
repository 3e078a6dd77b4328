// Recording control and the elapsed-time counter on the real screen, with the scripted input.
#include <sndfile.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <filesystem>
#include <vector>

#include "app/ScheduledTimer.h"
#include "recording/ControllerTimers.h"
#include "recording/MotionSensing.h"
#include "screen/ImageButton.h"
#include "tests/screen/ScreenFixture.h"

using fm::test::ScreenTest;

namespace {

std::vector<std::int16_t> block(int frames, int seed) {
    std::vector<std::int16_t> b(frames);
    for (int i = 0; i < frames; ++i) {
        b[i] = static_cast<std::int16_t>((i * 37 + seed * 1013) % 60000 - 30000);
    }
    return b;
}

std::vector<std::int16_t> readSamples(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
        return {};
    }
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_CAF);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    std::vector<std::int16_t> samples(static_cast<size_t>(info.frames));
    sf_read_short(f, samples.data(), info.frames);
    sf_close(f);
    return samples;
}

class RecordingTest : public ScreenTest {
  protected:
    // Queues and delivers blocks; returns their samples joined.
    std::vector<std::int16_t> deliver(std::initializer_list<int> frames, int seed) {
        std::vector<std::int16_t> all;
        for (int n : frames) {
            auto b = block(n, seed++);
            all.insert(all.end(), b.begin(), b.end());
            script_->addBlock(b);
        }
        script_->deliverAll();
        return all;
    }
};

TEST_F(RecordingTest, StartStopAndStartAgainRecordEachTimeExactlyWhatWasCaptured) {
    ViewController& vc = load();
    const auto clean = docs_ / "output2.caf";
    deliver({1024}, 1);  // monitoring: nothing recorded
    EXPECT_TRUE(readSamples(clean).empty());

    vc.playButton->click();
    EXPECT_EQ(vc.isRecording(), 1);
    EXPECT_EQ(recordingActive.load(), 1);
    EXPECT_EQ(vc.playButton->imageName(), "Record-on.png");
    EXPECT_EQ(vc.timeLabel->text(), "00:00");
    EXPECT_TRUE(script_->hasRunningUnit());  // a fresh engine
    const auto first = deliver({1024, 640, 333, 1024}, 10);

    vc.playButton->click();
    EXPECT_EQ(vc.isRecording(), 0);
    EXPECT_EQ(recordingActive.load(), 0);
    EXPECT_EQ(vc.playButton->imageName(), "Record-off.png");
    EXPECT_NE(vc.mAudioUnit, nullptr);  // the engine keeps running for the meters
    // The stop put the whole recording on disk, though the file is still open.
    EXPECT_EQ(readSamples(clean), first);
    deliver({1024}, 20);  // after the stop: not recorded
    EXPECT_EQ(readSamples(clean), first);

    vc.playButton->click();  // a new recording erases the previous one
    EXPECT_TRUE(readSamples(clean).empty());
    const auto second = deliver({512, 1024}, 30);
    vc.playButton->click();
    EXPECT_EQ(readSamples(clean), second);
    EXPECT_EQ(cleanRecordFileURL, clean.string());
}

TEST_F(RecordingTest, RecordKeyWorksOnlyWhereTheButtonIsShown) {
    ViewController& vc = load();
    QKeyEvent r(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, "r");
    QApplication::sendEvent(&vc, &r);
    EXPECT_EQ(vc.isRecording(), 1);
    QApplication::sendEvent(&vc, &r);
    EXPECT_EQ(vc.isRecording(), 0);
    swipeLeft();
    swipeLeft();  // colour page: the button is hidden
    QApplication::sendEvent(&vc, &r);
    EXPECT_EQ(vc.isRecording(), 0);
}

TEST_F(RecordingTest, CounterShowsMinutesAndSecondsThenWarnsAndARecordingRestartsIt) {
    ViewController& vc = load();
    ASSERT_TRUE(counterTimer);
    auto tick = [&] { vc.updateCounter(counterTimer.get()); };
    tick();
    EXPECT_EQ(vc.timeLabel->text(), "00:01");
    while (elapsedSeconds < 75) {
        tick();
    }
    EXPECT_EQ(vc.timeLabel->text(), "01:15");
    while (elapsedSeconds < 400) {
        tick();
    }
    EXPECT_EQ(vc.timeLabel->text(), "06:40");
    EXPECT_TRUE(counterTimer->isValid());
    tick();
    EXPECT_EQ(vc.timeLabel->text(), "PUSH STOP RECORDING! FILE TOO BIG");
    EXPECT_FALSE(counterTimer->isValid());
    // The whole warning shows in its place, laid out as the label lays it out.
    const QRect room = vc.timeLabel->contentsRect();
    const int flags = static_cast<int>(vc.timeLabel->alignment()) |
                      (vc.timeLabel->wordWrap() ? Qt::TextWordWrap : 0);
    EXPECT_TRUE(
        room.contains(vc.timeLabel->fontMetrics().boundingRect(room, flags, vc.timeLabel->text())));

    // Stopping leaves the label; a new recording counts from 00:00 again.
    vc.togglePlay(vc.playButton);
    EXPECT_EQ(vc.timeLabel->text(), "00:00");
    EXPECT_EQ(elapsedSeconds, 0);
    ASSERT_TRUE(counterTimer->isValid());
    tick();
    EXPECT_EQ(vc.timeLabel->text(), "00:01");
    vc.togglePlay(vc.playButton);
    EXPECT_EQ(vc.timeLabel->text(), "00:01");
    tick();  // the counter keeps going while monitoring
    EXPECT_EQ(vc.timeLabel->text(), "00:02");
}

TEST_F(RecordingTest, ThreeRecordingsLeaveOneMeterTimer) {
    ViewController& vc = load();
    const auto meter = vc.meterTimer();
    const auto timers = fm::app::ScheduledTimer::scheduledCount();
    for (int i = 0; i < 3; ++i) {
        vc.togglePlay(vc.playButton);
        vc.togglePlay(vc.playButton);
    }
    EXPECT_EQ(vc.meterTimer(), meter);
    EXPECT_TRUE(meter->isValid());
    EXPECT_EQ(fm::app::ScheduledTimer::scheduledCount(), timers);
    // And the history advances once per tick of that one timer.
    const int before = historyIndex;
    const long fired = meter->fireCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter->fireCount() >= fired + 3; }, 5000));
    EXPECT_EQ(historyIndex - before, meter->fireCount() - fired);
}

TEST_F(RecordingTest, StoppingWritesTheMotionTakenWhileRecordingBesideIt) {
    motion_->accel = fm::platform::Acceleration{0.0, 0.0, 0.5};
    ViewController& vc = load();
    vc.togglePlay(vc.playButton);
    const int start = accelIndex;
    ASSERT_TRUE(QTest::qWaitFor([&] { return accelIndex - start >= 5; }, 5000));
    vc.togglePlay(vc.playButton);
    EXPECT_GE(rawSampleCount, 5);
    const auto raw = docs_ / "rawAccel.out";
    ASSERT_TRUE(std::filesystem::exists(raw));
    EXPECT_GT(std::filesystem::file_size(raw), 44u);
}

TEST_F(RecordingTest, SecondProgrammaticPlayStopsTheEngineAndTheCounter) {
    ViewController& vc = load();
    auto counter = counterTimer;
    vc.programmaticPlay();
    EXPECT_EQ(vc.mAudioUnit, nullptr);
    EXPECT_FALSE(script_->hasRunningUnit());
    EXPECT_FALSE(counter->isValid());
    EXPECT_EQ(elapsedSeconds, 0);
    vc.programmaticPlay();  // and starts them again
    EXPECT_NE(vc.mAudioUnit, nullptr);
    EXPECT_TRUE(counterTimer->isValid());
}

}  // namespace
