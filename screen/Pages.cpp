// Pages, the caption, the instructions cover, the about page, orientation and lifecycle.
#include <QLabel>
#include <QScrollArea>
#include <algorithm>

#include "audio/SignalState.h"
#include "platform/motion/DeviceOrientationSource.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "screen/SoundLevelDisplay.h"
#include "screen/ViewController.h"
#include "toolkit/FrameAnimation.h"
#include "toolkit/Images.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"

namespace fm::screen {

std::uint8_t rotationLocked = 0;

namespace {

// Hidden flags of the seven page views, page by page (bars, direction, colour).
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

void ViewController::showPage(Page page) {
    const int i = page - kBarsPage;
    // Set outright, in this order, so a page change repairs any other visibility.
    powerBar->setHidden(kPowerBar.hiddenOn[i]);
    powerBar2->setHidden(kPowerBar.hiddenOn[i]);
    dsensorView->setHidden(kDsensor.hiddenOn[i]);
    colorOverlay->setHidden(kColor.hiddenOn[i]);
    rmsPower->setHidden(kRmsPower.hiddenOn[i]);
    graphOverlay->setHidden(kGraphOverlay.hiddenOn[i]);
    playButton->setHidden(kPlayButton.hiddenOn[i]);
    overlayMode = page;
    if (soundLevels_ != nullptr) {
        soundLevels_->placeLineIn(soundLevelLineBand(page));
    }
}

QRect ViewController::soundLevelLineBand(Page page) const {
    const int pageTop = historyGraph->geometry().bottom() + 1;
    const int rowTop = std::min(
        {playButton->geometry().top(), timeLabel->geometry().top(), mailButton->geometry().top()});
    if (page == kDirectionPage) {
        // Above the ring, whose readings reach the edges of its view. The 480-point screen
        // leaves no line's height there: the column beside the ring instead.
        const QRect ring = dsensorView->geometry();
        const QRect above(0, pageTop, width(), ring.top() - pageTop);
        if (above.height() >= SoundLevelDisplay::kOneLineHeight) {
            return above;
        }
        return {0, pageTop, ring.left(), rowTop - pageTop};
    }
    // Under the read-out and its caption, above the record button's row, between the bars.
    const int top = rmsPower->geometry().bottom() + 1;
    const int left = powerBar->geometry().right() + 1;
    return {left, top, powerBar2->geometry().left() - left, rowTop - top};
}

void ViewController::handleViewsSwipe(fm::toolkit::SwipeGestureRecognizer* recognizer) {
    const bool left = recognizer->direction() == fm::toolkit::SwipeGestureRecognizer::Left;
    const bool right = recognizer->direction() == fm::toolkit::SwipeGestureRecognizer::Right;
    if (left && overlayMode == kBarsPage) {
        showPage(kDirectionPage);
    } else if (left && overlayMode == kDirectionPage) {
        showPage(kColourPage);
    } else if (right && overlayMode == kDirectionPage) {
        showPage(kBarsPage);
    } else if (right && overlayMode == kColourPage) {
        showPage(kDirectionPage);
    }
}

void ViewController::switchWavSpectrum(QObject*) {
    const bool wasWaveform = fm::audio::showWaveform.load(std::memory_order_relaxed);
    fm::audio::showWaveform.store(!wasWaveform, std::memory_order_relaxed);
    if (waveformTextImage == nullptr) {
        return;  // let go by viewDidUnload: nothing to show the caption on
    }
    waveformTextImage->setImageName(wasWaveform ? "spectrumtext.png" : "waveformtext.png");
}

void ViewController::instructionsTapped(QObject*) {
    fm::toolkit::animateFrame(instructionsOverlay, QRect(600, 0, 320, 480), 0.5,
                              fm::toolkit::AnimationCurve::EaseInOut);
}

void ViewController::showAboutInstructions(QObject*) {
    if (auto* content = qobject_cast<ImageView*>(aboutInstructions->widget());
        content != nullptr && content->image().isNull()) {
        content->setImage(fm::toolkit::imageNamed("instructionsInApp@2x.png"));
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

// Every one of the four interface orientations.
int ViewController::supportedInterfaceOrientations() const {
    return interfaceOrientationBit(InterfaceOrientationPortrait) |
           interfaceOrientationBit(InterfaceOrientationPortraitUpsideDown) |
           interfaceOrientationBit(InterfaceOrientationLandscapeRight) |
           interfaceOrientationBit(InterfaceOrientationLandscapeLeft);
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
        constexpr int kNoInterfaceOrientation = 26;  // no orientation has this value
        return interfaceOrientation == kNoInterfaceOrientation;
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
    if (shouldAutorotate() &&
        (supportedInterfaceOrientations() & interfaceOrientationBit(interface)) != 0) {
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

}  // namespace fm::screen
