// Pages, the caption, the instructions cover, the about page, orientation and lifecycle.
#include <QLabel>
#include <QScrollArea>

#include "app/FrameAnimation.h"
#include "app/Images.h"
#include "audio/SignalState.h"
#include "platform/motion/DeviceOrientationSource.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "screen/ViewController.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"

std::uint8_t rotationLocked = 0;

namespace {

// Hidden flags of the seven page views, page by page (1 bars, 2 direction, 3 colour).
struct PageRow {
    bool hiddenOn[3];
};
constexpr PageRow kPowerBar{{false, true, true}};
constexpr PageRow kDsensor{{true, false, true}};
constexpr PageRow kColor{{true, true, false}};
constexpr PageRow kRmsPower{{false, true, false}};
constexpr PageRow kGraphOverlay{{false, true, false}};
constexpr PageRow kPlayButton{{false, false, true}};

}  // namespace

void ViewController::showPage(int page) {
    const int i = page - 1;
    // Set outright, in this order, so a page change repairs any other visibility.
    powerBar->setHidden(kPowerBar.hiddenOn[i]);
    powerBar2->setHidden(kPowerBar.hiddenOn[i]);
    dsensorView->setHidden(kDsensor.hiddenOn[i]);
    colorOverlay->setHidden(kColor.hiddenOn[i]);
    rmsPower->setHidden(kRmsPower.hiddenOn[i]);
    graphOverlay->setHidden(kGraphOverlay.hiddenOn[i]);
    playButton->setHidden(kPlayButton.hiddenOn[i]);
    overlayMode = page;
}

void ViewController::handleViewsSwipe(fm::app::SwipeGestureRecognizer* recognizer) {
    const bool left = recognizer->direction() == fm::app::SwipeGestureRecognizer::Left;
    const bool right = recognizer->direction() == fm::app::SwipeGestureRecognizer::Right;
    if (left && (overlayMode == 1 || overlayMode == 2)) {
        showPage(overlayMode + 1);
    } else if (right && (overlayMode == 2 || overlayMode == 3)) {
        showPage(overlayMode - 1);
    }
}

void ViewController::switchWavSpectrum(QObject*) {
    const bool wasWaveform = showWaveform.load(std::memory_order_relaxed);
    showWaveform.store(!wasWaveform, std::memory_order_relaxed);
    if (waveformTextImage == nullptr) {
        return;  // let go by viewDidUnload: nothing to show the caption on
    }
    waveformTextImage->setImageName(wasWaveform ? "spectrumtext.png" : "waveformtext.png");
}

void ViewController::instructionsTapped(QObject*) {
    fm::app::animateFrame(instructionsOverlay, QRect(600, 0, 320, 480), 0.5,
                          fm::app::AnimationCurve::EaseInOut);
}

void ViewController::showAboutInstructions(QObject*) {
    if (auto* content = qobject_cast<ImageView*>(aboutInstructions->widget());
        content != nullptr && content->image().isNull()) {
        content->setImage(fm::app::imageNamed("instructionsInApp@2x.png"));
    }
    aboutInstructions->setHidden(false);
    closeButton->setHidden(false);
    aboutInstructions->raise();
    closeButton->raise();
    instructionsOverlay->raise();  // the cover, while it is in place, stays on top
}

void ViewController::hideAboutInstructions(QObject*) {
    aboutInstructions->setHidden(true);
    closeButton->setHidden(true);
    if (auto* content = qobject_cast<ImageView*>(aboutInstructions->widget())) {
        content->setImage(QPixmap());
    }
}

int ViewController::supportedInterfaceOrientations() const {
    return 2 | 4 | 8 | 16;
}

bool ViewController::shouldAutorotate() {
    const int device = fm::platform::DeviceOrientationSource::currentDevice()->orientation();
    if (rotationLocked == 1) {
        return false;
    }
    if (device == fm::platform::DeviceOrientationPortraitUpsideDown && isTallScreen == 1) {
        rotationLocked = 1;
    }
    return true;
}

bool ViewController::shouldAutorotateToInterfaceOrientation(int interfaceOrientation) {
    if (isTallScreen == 1) {
        if (rotationLocked == 1) {
            return false;
        }
        rotationLocked = 1;
        return interfaceOrientation == 26;  // no orientation has this value
    }
    return interfaceOrientation == InterfaceOrientationPortrait ||
           interfaceOrientation == InterfaceOrientationPortraitUpsideDown;
}

// The device turned: the screen follows when the policy allows it. Face up, face down and
// unknown are no interface orientation and change nothing.
void ViewController::deviceOrientationDidChange(int deviceOrientation) {
    if (deviceOrientation < fm::platform::DeviceOrientationPortrait ||
        deviceOrientation > fm::platform::DeviceOrientationLandscapeRight) {
        return;
    }
    const int interface = deviceOrientation;  // device and interface values coincide here
    const int bit = interface == InterfaceOrientationPortrait             ? 2
                    : interface == InterfaceOrientationPortraitUpsideDown ? 4
                    : interface == InterfaceOrientationLandscapeRight     ? 8
                                                                          : 16;
    if (shouldAutorotate() && (supportedInterfaceOrientations() & bit) != 0) {
        emit interfaceOrientationChanged(interface);
    }
}

void ViewController::didReceiveMemoryWarning() {}

void ViewController::viewDidUnload() {
    // The caption's image view is let go; every other field keeps its object.
    if (waveformTextImage != nullptr) {
        waveformTextImage->deleteLater();
        waveformTextImage = nullptr;
    }
}

void ViewController::viewWillAppear(bool) {}
void ViewController::viewDidAppear(bool) {}
void ViewController::viewWillDisappear(bool) {}
void ViewController::viewDidDisappear(bool) {}
