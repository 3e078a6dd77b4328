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

namespace fm::screen {

namespace {

// The spectrum's power in the graph's units.
constexpr float kSpectrumGraphScale = 250.0f;
// The level bars climb one step for every 10% more level; 100 steps fill them.
constexpr float kBarStepRatio = 1.1f;
constexpr float kBarSteps = 100.0f;
constexpr double kDegreesPerRadian = 57.2957795;
// The direction sensor's radius: two points for each level above the floor.
constexpr double kDirectionFloorLevel = 5.0;
constexpr double kDirectionPointsPerLevel = 2.0;
// The sensor's angle when the device faces 0 degrees; it turns against the device.
constexpr int kDirectionFacingZero = 180;
// The level at which the colour page's normPower reaches 1.
constexpr double kColourFullLevel = 255.0;

}  // namespace

void ViewController::setRMSPower(double) {}

void ViewController::updateRMS(fm::toolkit::ScheduledTimer*) {
    watchInput();
    // Levels reach 32,767 times the gain: the read-out shrinks rather than lose digits.
    const double raw = fm::audio::rmsValue.load(std::memory_order_relaxed);
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

    // A view is drawn again only when what it shows changed: at a tick the window repaints just
    // those views.
    const bool waveform = fm::audio::showWaveform.load(std::memory_order_relaxed);
    bool graphChanged = false;
    const auto set = [&graphChanged](double& point, double value) {
        graphChanged = graphChanged || point != value;
        point = value;
    };
    for (int k = 0; k < fm::audio::kGraphPoints; ++k) {
        if (waveform) {
            const double s = fm::audio::waveformSamples[k].load(std::memory_order_relaxed);
            set(waveformGraph->dataPoints[k], std::trunc(std::fabs(s)));
            set(waveformGraph->dataPoints2[k], 0.0);
        } else {
            set(waveformGraph->dataPoints[k], 0.0);
            const float p =
                fm::audio::spectrumPower[k].load(std::memory_order_relaxed) * kSpectrumGraphScale;
            set(waveformGraph->dataPoints2[k], static_cast<double>(p));
        }
    }
    // The top graph shows on every page (over the colour too).
    if (graphChanged) {
        waveformGraph->setNeedsDisplay();
    }

    if (overlayMode == kBarsPage || overlayMode == kDirectionPage) {
        const double level = fm::audio::rmsValue.load(std::memory_order_relaxed);
        const int c = fm::audio::historyIndex % fm::audio::kGraphPoints;
        historyGraph->dataPoints[c] = level;
        historyGraph->beatXPosition = static_cast<float>(c);
        fm::audio::historyIndex = fm::audio::historyIndex + 1;
        historyGraph->setNeedsDisplay();
        if (overlayMode == kBarsPage) {
            const float l = static_cast<float>(level);
            const float p = std::log2(l) / std::log2(kBarStepRatio) / kBarSteps;
            if (p != powerBar->normPower || p != powerBar2->normPower) {
                powerBar->normPower = p;
                powerBar2->normPower = p;
                powerBar->setNeedsDisplay();
                powerBar2->setNeedsDisplay();
            }
        } else {
            const int t = static_cast<int>(yaw * kDegreesPerRadian);
            dsensorView->updatePolarR((level - kDirectionFloorLevel) * kDirectionPointsPerLevel,
                                      kDirectionFacingZero - t);
            dsensorView->setNeedsDisplay();  // the older readings fade at every tick
        }
    } else if (overlayMode == kColourPage) {
        const auto normPower = static_cast<float>(
            fm::audio::rmsValue.load(std::memory_order_relaxed) / kColourFullLevel);
        if (normPower != colorOverlay->normPower) {
            colorOverlay->normPower = normPower;
            colorOverlay->setNeedsDisplay();
        }
    }
    if (soundLevels_ != nullptr) {
        soundLevels_->tick();
    }
}

}  // namespace fm::screen
