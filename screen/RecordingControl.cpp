// The record button, the engine start and stop, and the elapsed-time counter.
#include <QLabel>
#include <chrono>
#include <cstdio>
#include <span>

#include "audio/SignalState.h"
#include "recording/MotionSensing.h"
#include "recording/RawMotion.h"
#include "recording/RawMotionCapture.h"
#include "recording/RawMotionWav.h"
#include "recording/RecordingState.h"
#include "screen/ImageButton.h"
#include "screen/SoundLevelDisplay.h"
#include "screen/ViewController.h"
#include "toolkit/AlertView.h"

namespace fm::screen {

namespace {

constexpr std::chrono::seconds kSilentStreamLimit{3};
constexpr double kMicrophoneRetrySeconds = 5.0;

std::shared_ptr<fm::toolkit::ScheduledTimer> startCounterTimer(ViewController* controller) {
    return fm::toolkit::ScheduledTimer::scheduledTimer(
        1.0, [controller](fm::toolkit::ScheduledTimer* t) { controller->updateCounter(t); });
}

}  // namespace

// One meter timer only: every further start would run the update (and advance the history)
// once more per tick.
void ViewController::startMeterTimerIfNone() {
    if (meterTimer_ && meterTimer_->isValid()) {
        return;
    }
    meterTimer_ = fm::toolkit::ScheduledTimer::scheduledTimer(
        0.1, [this](fm::toolkit::ScheduledTimer* t) { updateRMS(t); });
}

void ViewController::togglePlay(QObject* sender) {
    auto* button = qobject_cast<ImageButton*>(sender);
    if (isRecording() != 0) {
        endRecording();
        if (button != nullptr) {
            button->setImageName("Record-off.png");
        }
        return;
    }
    // Raised before the old engine stops, so the new engine's first block is recorded.
    fm::recording::recordingActive.store(1, std::memory_order_relaxed);
    stopRecording();
    mAudioUnit = nullptr;
    if (soundLevels_ != nullptr) {
        soundLevels_->recordingStarted();  // between the engines: every recorded block counts
    }
    fm::recording::elapsedSeconds = 0;
    fm::recording::finishRawAccelDataFile();  // the last recording's motion file is still being
                                              // written
    fm::recording::rewindRawSeries();
    fm::recording::rawSampleCount = 0;
    recordingStartMs_ = fm::recording::secondsSince1970() * 1000.0;
    initializeOutputUnit();
    timeLabel->setText("00:00");
    startMeterTimerIfNone();
    if (!inputStarted()) {
        // Nothing can be captured: the screen must not look as if a recording ran.
        fm::recording::recordingActive.store(0, std::memory_order_relaxed);
        showNoInput(startError());
        return;
    }
    leaveNoInput();
    if (mAudioFileRefClean == nullptr) {
        // Without its file there is no recording, whatever the meters show.
        fm::recording::recordingActive.store(0, std::memory_order_relaxed);
        if (soundLevels_ != nullptr) {
            soundLevels_->recordingCancelled();
        }
        std::fprintf(stderr, "fieldmeter: nothing is recorded: %s\n", recordingFileError().c_str());
        fm::toolkit::AlertView("Cannot record", QString::fromStdString(recordingFileError()), "OK",
                               this)
            .show();
        return;
    }
    if (button != nullptr) {
        button->setImageName("Record-on.png");
    }
    // A counter that ended after its warning starts again, so this recording counts too.
    if (!counterTimer_ || !counterTimer_->isValid()) {
        counterTimer_ = startCounterTimer(this);
    }
    setIsRecording(1);
}

// Stops appending to "output2.caf" (the engine keeps running for the meters) and writes the
// motion taken meanwhile beside it.
void ViewController::endRecording() {
    setIsRecording(0);
    fm::recording::recordingActive.store(0, std::memory_order_relaxed);
    // The file on disk holds the whole recording from now on, though it stays open.
    flushRecordingFile();
    saveRecordedMotion();
    if (soundLevels_ != nullptr) {
        soundLevels_->recordingStopped(QString::fromStdString(fm::audio::cleanRecordFileURL));
    }
}

void ViewController::finishBeforeQuit() {
    if (isRecording() != 0) {
        endRecording();
    }
    // The motion file is written on a thread of its own; the program must not end before it.
    fm::recording::finishRawAccelDataFile();
    if (mAudioUnit != nullptr) {
        stopRecording();
        mAudioUnit = nullptr;
    }
}

// The motion taken while the recording ran becomes "rawAccel.out" beside it.
void ViewController::saveRecordedMotion() {
    const double endMs = fm::recording::secondsSince1970() * 1000.0;
    fm::recording::finishRawAccelDataFile();
    fm::recording::fillRawSeriesFromAccel(
        std::span<const double>(fm::recording::accelValues, fm::recording::kAccelRingSize),
        std::span<const double>(fm::recording::accelTimes, fm::recording::kAccelRingSize),
        fm::recording::accelIndex, recordingStartMs_, endMs);
    // Off the main thread: the meters and the clock keep running while the file is written.
    fm::recording::writeRawAccelDataToFileInBackground();
}

void ViewController::finishMotionFile() {
    fm::recording::finishRawAccelDataFile();
}

void ViewController::programmaticPlay() {
    if (mAudioUnit != nullptr) {
        stopRecording();
        if (counterTimer_) {
            counterTimer_->invalidate();
        }
        mAudioUnit = nullptr;
        fm::recording::elapsedSeconds = 0;
        return;
    }
    initializeOutputUnit();
    timeLabel->setText("00:00");
    // A replaced counter that still ran would count every second twice, beyond reach.
    if (counterTimer_) {
        counterTimer_->invalidate();
    }
    counterTimer_ = startCounterTimer(this);
    startMeterTimerIfNone();
    if (!inputStarted()) {
        showNoInput(startError());
        return;
    }
    leaveNoInput();
}

void ViewController::watchInput() {
    if (mAudioUnit == nullptr || inputEndSeenAtStart_ == engineStarts()) {
        return;
    }
    // A stream that no longer delivers (its thread stuck in a dead server's library) says
    // nothing by itself; blocks come every 23 ms, so seconds without one mean it is lost.
    const auto now = std::chrono::steady_clock::now();
    if (inputSource().kind == fm::platform::AudioInputKind::Microphone && mAudioUnit->isRunning()) {
        const std::uint64_t delivered = mAudioUnit->deliveries();
        // A program that was itself stopped (a stalled machine, SIGSTOP) gives the stream the
        // time to deliver what the server kept, rather than calling it lost at once.
        const bool watcherStalled = now - inputWatchedAt_ > std::chrono::seconds(1);
        inputWatchedAt_ = now;
        if (deliveriesSeenAtStart_ != engineStarts() || delivered != deliveriesSeen_ ||
            watcherStalled) {
            deliveriesSeenAtStart_ = engineStarts();
            deliveriesSeen_ = delivered;
            deliveriesChangedAt_ = now;
        } else if (now - deliveriesChangedAt_ > kSilentStreamLimit) {
            mAudioUnit->markLost("no sound has arrived for 3 seconds");
        }
    }
    const fm::platform::InputEnd end = mAudioUnit->inputEnd();
    if (end == fm::platform::InputEnd::None) {
        return;
    }
    inputEndSeenAtStart_ = engineStarts();
    noteInputStopped(end);
    const std::string reason = mAudioUnit->inputEndReason();
    if (end == fm::platform::InputEnd::Ended) {
        // A file played to its end: silence from now on, not its last level frozen.
        fm::audio::clearSignalMeters();
        std::fprintf(stderr, "fieldmeter: %s ended; the meters show silence\n",
                     inputSource().describe().c_str());
        return;
    }
    std::fprintf(stderr, "fieldmeter: %s lost (%s); capture stopped\n",
                 inputSource().describe().c_str(), reason.c_str());
    showNoInput(reason);
}

// No input: a recording that runs ends as the record button would end it, with what was
// captured; the engine stops; the meters go to silence; an alert and the title say why.
void ViewController::showNoInput(const std::string& reason) {
    if (isRecording() != 0) {
        endRecording();
        if (playButton != nullptr) {
            playButton->setImageName("Record-off.png");
        }
    }
    fm::recording::recordingActive.store(0, std::memory_order_relaxed);
    if (mAudioUnit != nullptr) {
        stopRecording();
        mAudioUnit = nullptr;
    }
    if (counterTimer_) {
        counterTimer_->invalidate();
    }
    fm::audio::clearSignalMeters();
    if (!noInput_) {
        noInput_ = true;
        titleWithInput_ = windowTitle();
    }
    setWindowTitle("fieldmeter (no input)");
    if (inputSource().kind == fm::platform::AudioInputKind::Microphone &&
        (!retryTimer_ || !retryTimer_->isValid())) {
        retryTimer_ = fm::toolkit::ScheduledTimer::scheduledTimer(
            kMicrophoneRetrySeconds, [this](fm::toolkit::ScheduledTimer*) { retryMicrophone(); });
    }
    const std::string what = inputSource().describe();
    fm::toolkit::AlertView(
        "No input",
        QString::fromStdString(what + ": " + (reason.empty() ? "cannot be captured" : reason)),
        "OK", this)
        .show();
    updateRMS(nullptr);  // the meters show the silence now, not at the next tick
}

void ViewController::leaveNoInput() {
    if (retryTimer_) {
        retryTimer_->invalidate();
    }
    if (noInput_) {
        noInput_ = false;
        setWindowTitle(titleWithInput_);
    }
}

// Quietly, every few seconds: the lost microphone may be back (a sound server restarted, a
// device plugged in again). Nothing records meanwhile; a recording that ended stays ended.
void ViewController::retryMicrophone() {
    if (!noInput_ || isRecording() != 0) {
        return;
    }
    if (!restartCapture()) {
        mAudioUnit->uninitialize();
        mAudioUnit = nullptr;
        return;
    }
    std::fprintf(stderr, "fieldmeter: %s is back; measuring again\n",
                 inputSource().describe().c_str());
    leaveNoInput();
    updateRMS(nullptr);
}

void ViewController::updateCounter(fm::toolkit::ScheduledTimer* timer) {
    fm::recording::elapsedSeconds = fm::recording::elapsedSeconds + 1;
    if (fm::recording::elapsedSeconds > 400) {
        timeLabel->setText("PUSH STOP RECORDING! FILE TOO BIG");
        if (timer != nullptr) {
            timer->invalidate();
        }
        return;
    }
    timeLabel->setText(QString::asprintf("%02d:%02d", fm::recording::elapsedSeconds / 60,
                                         fm::recording::elapsedSeconds % 60));
}

}  // namespace fm::screen
