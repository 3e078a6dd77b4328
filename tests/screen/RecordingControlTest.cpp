// Recording control and the elapsed-time counter on the real screen, with the scripted input.
#include <sndfile.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <filesystem>
#include <vector>

#include "audio/SignalState.h"
#include "recording/MotionSensing.h"
#include "screen/ImageButton.h"
#include "screen/SoundLevelDisplay.h"
#include "tests/screen/ScreenFixture.h"
#include "toolkit/ScheduledTimer.h"

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
    fm::screen::ViewController& vc = load();
    const auto clean = docs_ / "output2.caf";
    deliver({1024}, 1);  // monitoring: nothing recorded
    EXPECT_TRUE(readSamples(clean).empty());

    vc.playButton->click();
    EXPECT_EQ(vc.isRecording(), 1);
    EXPECT_EQ(fm::recording::recordingActive.load(), 1);
    EXPECT_EQ(vc.playButton->imageName(), "Record-on.png");
    EXPECT_EQ(vc.timeLabel->text(), "00:00");
    EXPECT_TRUE(script_->hasRunningUnit());  // a fresh engine
    const auto first = deliver({1024, 640, 333, 1024}, 10);

    vc.playButton->click();
    EXPECT_EQ(vc.isRecording(), 0);
    EXPECT_EQ(fm::recording::recordingActive.load(), 0);
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
    EXPECT_EQ(fm::audio::cleanRecordFileURL, clean.string());
}

TEST_F(RecordingTest, RecordKeyWorksOnlyWhereTheButtonIsShown) {
    fm::screen::ViewController& vc = load();
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
    fm::screen::ViewController& vc = load();
    ASSERT_TRUE(vc.counterTimer());
    auto tick = [&] { vc.updateCounter(vc.counterTimer().get()); };
    tick();
    EXPECT_EQ(vc.timeLabel->text(), "00:01");
    while (fm::recording::elapsedSeconds < 75) {
        tick();
    }
    EXPECT_EQ(vc.timeLabel->text(), "01:15");
    while (fm::recording::elapsedSeconds < 400) {
        tick();
    }
    EXPECT_EQ(vc.timeLabel->text(), "06:40");
    EXPECT_TRUE(vc.counterTimer()->isValid());
    tick();
    EXPECT_EQ(vc.timeLabel->text(), "PUSH STOP RECORDING! FILE TOO BIG");
    EXPECT_FALSE(vc.counterTimer()->isValid());
    // The whole warning shows in its place, laid out as the label lays it out.
    const QRect room = vc.timeLabel->contentsRect();
    const int flags = static_cast<int>(vc.timeLabel->alignment()) |
                      (vc.timeLabel->wordWrap() ? Qt::TextWordWrap : 0);
    EXPECT_TRUE(
        room.contains(vc.timeLabel->fontMetrics().boundingRect(room, flags, vc.timeLabel->text())));

    // Stopping leaves the label; a new recording counts from 00:00 again.
    vc.togglePlay(vc.playButton);
    EXPECT_EQ(vc.timeLabel->text(), "00:00");
    EXPECT_EQ(fm::recording::elapsedSeconds, 0);
    ASSERT_TRUE(vc.counterTimer()->isValid());
    tick();
    EXPECT_EQ(vc.timeLabel->text(), "00:01");
    vc.togglePlay(vc.playButton);
    EXPECT_EQ(vc.timeLabel->text(), "00:01");
    tick();  // the counter keeps going while monitoring
    EXPECT_EQ(vc.timeLabel->text(), "00:02");
}

TEST_F(RecordingTest, ThreeRecordingsLeaveOneMeterTimer) {
    fm::screen::ViewController& vc = load();
    const auto meter = vc.meterTimer();
    const auto timers = fm::toolkit::ScheduledTimer::scheduledCount();
    for (int i = 0; i < 3; ++i) {
        vc.togglePlay(vc.playButton);
        vc.togglePlay(vc.playButton);
    }
    EXPECT_EQ(vc.meterTimer(), meter);
    EXPECT_TRUE(meter->isValid());
    EXPECT_EQ(fm::toolkit::ScheduledTimer::scheduledCount(), timers);
    // And the history advances once per tick of that one timer.
    const int before = fm::audio::historyIndex;
    const long fired = meter->fireCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter->fireCount() >= fired + 3; }, 5000));
    EXPECT_EQ(fm::audio::historyIndex - before, meter->fireCount() - fired);
}

TEST_F(RecordingTest, StoppingWritesTheMotionTakenWhileRecordingBesideIt) {
    motion_->accel = fm::platform::Acceleration{0.0, 0.0, 0.5};
    fm::screen::ViewController& vc = load();
    vc.togglePlay(vc.playButton);
    const int start = fm::recording::accelIndex;
    ASSERT_TRUE(QTest::qWaitFor([&] { return fm::recording::accelIndex - start >= 5; }, 5000));
    vc.togglePlay(vc.playButton);
    EXPECT_GE(fm::recording::rawSampleCount, 5);
    vc.finishMotionFile();  // written off the main thread
    const auto raw = docs_ / "rawAccel.out";
    ASSERT_TRUE(std::filesystem::exists(raw));
    EXPECT_GT(std::filesystem::file_size(raw), 44u);
}

TEST_F(RecordingTest, SecondProgrammaticPlayStopsTheEngineAndTheCounter) {
    fm::screen::ViewController& vc = load();
    auto counter = vc.counterTimer();
    vc.programmaticPlay();
    EXPECT_EQ(vc.mAudioUnit, nullptr);
    EXPECT_FALSE(script_->hasRunningUnit());
    EXPECT_FALSE(counter->isValid());
    EXPECT_EQ(fm::recording::elapsedSeconds, 0);
    vc.programmaticPlay();  // and starts them again
    EXPECT_NE(vc.mAudioUnit, nullptr);
    EXPECT_TRUE(vc.counterTimer()->isValid());
}

// The screen when there is no input: its start failed, it was lost, or a file ran out.
class NoInputTest : public RecordingTest {
  protected:
    // A mono 16-bit file of `seconds` at a constant loud value.
    std::string writeLoudFile(double seconds) {
        std::filesystem::create_directories(docs_);
        const std::string path = (docs_ / "input.wav").string();
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        const std::vector<std::int16_t> samples(static_cast<size_t>(seconds * 44100), 12000);
        sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(f);
        return path;
    }

    static bool metersAreSilent(fm::screen::ViewController& vc) {
        for (int k = 0; k < fm::audio::kGraphPoints; ++k) {
            if (fm::audio::waveformSamples[k].load() != 0.0 ||
                fm::audio::spectrumPower[k].load() != 0.0f) {
                return false;
            }
        }
        return fm::audio::rmsValue.load() == 0.0 && vc.rmsPower->text() == "0.00";
    }

    // Not recording, nothing captured, and the user told why.
    void expectNoInputShown(fm::screen::ViewController& vc, const std::string& inMessage) {
        EXPECT_TRUE(vc.hasNoInput());
        EXPECT_EQ(vc.isRecording(), 0);
        EXPECT_EQ(fm::recording::recordingActive.load(), 0);
        EXPECT_EQ(vc.playButton->imageName(), "Record-off.png");
        EXPECT_EQ(vc.mAudioUnit, nullptr);
        EXPECT_TRUE(vc.windowTitle().contains("no input")) << vc.windowTitle().toStdString();
        EXPECT_TRUE(metersAreSilent(vc));
        vc.updateRMS(nullptr);
        EXPECT_EQ(vc.soundLevelDisplay()->line()->text().left(8), "no input");
        const auto& alerts = fm::toolkit::AlertView::shownAlerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_TRUE(alerts[0].message.contains(QString::fromStdString(inMessage)))
            << alerts[0].message.toStdString();
    }
};

TEST_F(NoInputTest, AFailedStartIsShownAsNoInputAndAWorkingStartRecordsAgain) {
    const std::string input = writeLoudFile(1.0);
    fm::platform::setAudioInputSource(
        fm::platform::AudioInputSource::file(input, fm::platform::DeliveryPace::RealTime, true));
    fm::screen::ViewController& vc = load();
    vc.setWindowTitle("fieldmeter");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fm::audio::rmsValue.load() > 1000.0; }, 10000));
    vc.updateRMS(nullptr);
    ASSERT_NE(vc.rmsPower->text(), "0.00");

    std::filesystem::rename(input, docs_ / "kept.wav");
    ::testing::internal::CaptureStderr();
    QTest::keyClick(&vc, Qt::Key_R);
    ::testing::internal::GetCapturedStderr();
    expectNoInputShown(vc, "file input.wav: ");
    EXPECT_FALSE(vc.counterTimer()->isValid());  // the clock does not count a recording

    std::filesystem::rename(docs_ / "kept.wav", input);
    ::testing::internal::CaptureStderr();
    QTest::keyClick(&vc, Qt::Key_R);
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(vc.hasNoInput());
    EXPECT_EQ(vc.isRecording(), 1);
    EXPECT_EQ(vc.playButton->imageName(), "Record-on.png");
    EXPECT_EQ(vc.windowTitle(), "fieldmeter");
    EXPECT_TRUE(vc.counterTimer()->isValid());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fm::audio::rmsValue.load() > 1000.0; }, 10000));
    // The level is published before the block is queued for the file: stopping now could
    // leave it out. Wait until the file itself holds some of the input.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            SF_INFO info{};
            SNDFILE* f = sf_open((docs_ / "output2.caf").c_str(), SFM_READ, &info);
            if (f != nullptr) {
                sf_close(f);
            }
            return f != nullptr && info.frames > 0;
        },
        10000));
    QTest::keyClick(&vc, Qt::Key_R);
    EXPECT_FALSE(readSamples(docs_ / "output2.caf").empty());
}

TEST_F(NoInputTest, ALostInputEndsTheRecordingWithWhatWasCapturedAndSaysSoOnce) {
    fm::screen::ViewController& vc = load();
    vc.playButton->click();
    const auto captured = deliver({1024, 1024, 700}, 5);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(script_->endInput(fm::platform::InputEnd::Lost, "the sound server went away"));
    deliver({1024}, 9);  // nothing follows the loss
    ASSERT_TRUE(QTest::qWaitFor([&] { return vc.hasNoInput(); }, 5000));
    vc.updateRMS(nullptr);
    const std::string err = ::testing::internal::GetCapturedStderr();
    expectNoInputShown(vc, "scripted input: the sound server went away");
    EXPECT_EQ(readSamples(docs_ / "output2.caf"), captured);
    vc.finishMotionFile();
    EXPECT_TRUE(std::filesystem::exists(docs_ / "rawAccel.out"));
    const std::string line = "scripted input lost (the sound server went away)";
    ASSERT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(err.find(line, err.find(line) + 1), std::string::npos) << err;
}

TEST_F(NoInputTest, AFileThatEndsLeavesTheMetersSilentWithOneLine) {
    const std::string input = writeLoudFile(0.3);
    fm::platform::setAudioInputSource(
        fm::platform::AudioInputSource::file(input, fm::platform::DeliveryPace::AsFastAsPossible));
    ::testing::internal::CaptureStderr();
    fm::screen::ViewController& vc = load();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return vc.mAudioUnit->inputEnd() == fm::platform::InputEnd::Ended; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return metersAreSilent(vc); }, 5000));
    vc.updateRMS(nullptr);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string line = "fieldmeter: file input.wav ended; the meters show silence\n";
    ASSERT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(err.find(line, err.find(line) + 1), std::string::npos) << err;
    EXPECT_FALSE(vc.hasNoInput());  // a file played to its end is not a failure
    // No level is shown as if measured: the line says why there is none.
    EXPECT_EQ(vc.soundLevelDisplay()->line()->text(), "no input (the file ended)");
}

}  // namespace
