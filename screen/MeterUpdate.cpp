// The 0.1 s meter update: the level's text, the top graph, and the page's own view.
#include <QLabel>
#include <cmath>

#include "audio/SignalState.h"
#include "screen/FittedText.h"
#include "screen/SoundLevelDisplay.h"
#include "screen/ViewController.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"

void ViewController::setRMSPower(double) {}

void ViewController::updateRMS(fm::toolkit::ScheduledTimer*) {
    watchInput();
    // Levels reach 32,767 times the gain: the read-out shrinks rather than lose digits.
    const double raw = rmsValue.load(std::memory_order_relaxed);
    fm::screen::setTextFittingWidth(
        rmsPower,
        soundLevels_ != nullptr ? soundLevels_->readoutText(raw) : QString::asprintf("%.02f", raw),
        kReadOutFontSize);

    double yaw = 0.0;  // no device-motion reading yet: facing 0
    if (motionManager) {
        if (auto motion = motionManager->deviceMotion()) {
            yaw = motion->attitude.yaw;
        }
    }

    const bool waveform = showWaveform.load(std::memory_order_relaxed);
    for (int k = 0; k < kGraphPoints; ++k) {
        if (waveform) {
            const double s = waveformSamples[k].load(std::memory_order_relaxed);
            waveformGraph->dataPoints[k] = std::trunc(std::fabs(s));
            waveformGraph->dataPoints2[k] = 0.0;
        } else {
            waveformGraph->dataPoints[k] = 0.0;
            const float p = spectrumPower[k].load(std::memory_order_relaxed) * 250.0f;
            waveformGraph->dataPoints2[k] = static_cast<double>(p);
        }
    }
    spectrumGraph->setNeedsDisplay();

    if (overlayMode == 1 || overlayMode == 2) {
        waveformGraph->setNeedsDisplay();
        const double level = rmsValue.load(std::memory_order_relaxed);
        const int c = historyIndex % kGraphPoints;
        historyGraph->dataPoints[c] = level;
        historyGraph->beatXPosition = static_cast<float>(c);
        historyIndex = historyIndex + 1;
        historyGraph->setNeedsDisplay();
        if (overlayMode == 1) {
            const float l = static_cast<float>(level);
            const float p = std::log2(l) / std::log2(1.1f) / 100.0f;
            powerBar->normPower = p;
            powerBar2->normPower = p;
            powerBar->setNeedsDisplay();
            powerBar2->setNeedsDisplay();
        } else {
            const int t = static_cast<int>(yaw * 57.2957795);
            dsensorView->updatePolarR((level - 5.0) * 2.0, 180 - t);
            dsensorView->setNeedsDisplay();
        }
    } else if (overlayMode == 3) {
        colorOverlay->normPower =
            static_cast<float>(rmsValue.load(std::memory_order_relaxed) / 255.0);
        colorOverlay->setNeedsDisplay();
    }
    if (soundLevels_ != nullptr) {
        soundLevels_->tick();
    }
}
