// The record button, the engine start and stop, and the elapsed-time counter.
#include <QLabel>
#include <span>

#include "audio/SignalState.h"
#include "recording/ControllerTimers.h"
#include "recording/MotionSensing.h"
#include "recording/RawMotionCapture.h"
#include "recording/RawMotionWav.h"
#include "recording/RecordingState.h"
#include "screen/ImageButton.h"
#include "screen/SoundLevelDisplay.h"
#include "screen/ViewController.h"

std::shared_ptr<fm::app::ScheduledTimer> counterTimer;

namespace {

std::shared_ptr<fm::app::ScheduledTimer> startCounterTimer(ViewController* controller) {
    return fm::app::ScheduledTimer::scheduledTimer(
        1.0, [controller](fm::app::ScheduledTimer* t) { controller->updateCounter(t); });
}

}  // namespace

// One meter timer only: every further start would run the update (and advance the history)
// once more per tick.
void ViewController::startMeterTimerIfNone() {
    if (meterTimer_ && meterTimer_->isValid()) {
        return;
    }
    meterTimer_ = fm::app::ScheduledTimer::scheduledTimer(
        0.1, [this](fm::app::ScheduledTimer* t) { updateRMS(t); });
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
    recordingActive.store(1, std::memory_order_relaxed);
    stopRecording();
    mAudioUnit = nullptr;
    if (soundLevels_ != nullptr) {
        soundLevels_->recordingStarted();  // between the engines: every recorded block counts
    }
    elapsedSeconds = 0;
    if (button != nullptr) {
        button->setImageName("Record-on.png");
    }
    rawReadIndex = 0;
    rawSampleCount = 0;
    recordingStartMs_ = fm::recording::secondsSince1970() * 1000.0;
    initializeOutputUnit();
    timeLabel->setText("00:00");
    startMeterTimerIfNone();
    // A counter that ended after its warning starts again, so this recording counts too.
    if (!counterTimer || !counterTimer->isValid()) {
        counterTimer = startCounterTimer(this);
    }
    setIsRecording(1);
}

// Stops appending to "output2.caf" (the engine keeps running for the meters) and writes the
// motion taken meanwhile beside it.
void ViewController::endRecording() {
    setIsRecording(0);
    recordingActive.store(0, std::memory_order_relaxed);
    // The file on disk holds the whole recording from now on, though it stays open.
    flushRecordingFile();
    saveRecordedMotion();
    if (soundLevels_ != nullptr) {
        soundLevels_->recordingStopped(QString::fromStdString(cleanRecordFileURL));
    }
}

void ViewController::finishBeforeQuit() {
    if (isRecording() != 0) {
        endRecording();
    }
    if (mAudioUnit != nullptr) {
        stopRecording();
        mAudioUnit = nullptr;
    }
}

// The motion taken while the recording ran becomes "rawAccel.out" beside it.
void ViewController::saveRecordedMotion() {
    const double endMs = fm::recording::secondsSince1970() * 1000.0;
    fillRawSeriesFromAccel(std::span<const double>(accelValues, kAccelRingSize),
                           std::span<const double>(accelTimes, kAccelRingSize), accelIndex,
                           recordingStartMs_, endMs);
    writeRawAccelDataToFile();
}

void ViewController::programmaticPlay() {
    if (mAudioUnit != nullptr) {
        stopRecording();
        if (counterTimer) {
            counterTimer->invalidate();
        }
        mAudioUnit = nullptr;
        elapsedSeconds = 0;
        return;
    }
    initializeOutputUnit();
    timeLabel->setText("00:00");
    // A replaced counter that still ran would count every second twice, beyond reach.
    if (counterTimer) {
        counterTimer->invalidate();
    }
    counterTimer = startCounterTimer(this);
    startMeterTimerIfNone();
}

void ViewController::updateCounter(fm::app::ScheduledTimer* timer) {
    elapsedSeconds = elapsedSeconds + 1;
    if (elapsedSeconds > 400) {
        timeLabel->setText("PUSH STOP RECORDING! FILE TOO BIG");
        if (timer != nullptr) {
            timer->invalidate();
        }
        return;
    }
    timeLabel->setText(QString::asprintf("%02d:%02d", elapsedSeconds / 60, elapsedSeconds % 60));
}
