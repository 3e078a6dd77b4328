#include "screen/ViewController.h"

#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>

#include "audio/SignalState.h"
#include "mail/MailExport.h"
#include "platform/motion/DeviceOrientationSource.h"
#include "platform/motion/MotionSource.h"
#include "recording/MotionSensing.h"
#include "recording/RecordingState.h"
#include "screen/FloatSlider.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "screen/ScreenLoader.h"
#include "screen/SoundLevelDisplay.h"
#include "toolkit/Fonts.h"
#include "toolkit/IdleTimer.h"
#include "toolkit/Images.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"

namespace fm::screen {

std::uint8_t isTallScreen = 0;

ViewController::ViewController(const QString& nibName, double screenHeight, QWidget* parent)
    : QWidget(parent), nibName_(nibName), screenHeight_(screenHeight) {
    setObjectName("ViewControllerView");
    setFocusPolicy(Qt::StrongFocus);
    resize(320, static_cast<int>(screenHeight));
}

ViewController::~ViewController() {
    // Capture calls back into this object: it must end before the members go.
    finishBeforeQuit();
    if (accelerometer != nullptr && accelerometer->delegate() == this) {
        accelerometer->setDelegate(nullptr);
    }
    // The timers call back into this object too.
    for (auto* timer :
         {meterTimer_.get(), counterTimer_.get(), gyroTimer_.get(), retryTimer_.get()}) {
        if (timer != nullptr) {
            timer->invalidate();
        }
    }
    finishMotionFile();
}

QWidget* ViewController::view() {
    if (!viewLoaded_) {
        loadView();
        viewLoaded_ = true;
        viewDidLoad();
    }
    return this;
}

void ViewController::loadView() {
    QString error;
    QWidget* root = loadScreenLayout(nibName_, this, &error);
    if (root == nullptr) {
        // Without its layout the screen cannot work at all; say so plainly.
        std::fprintf(stderr, "fieldmeter: cannot load the screen layout: %s\n", qPrintable(error));
        std::abort();
    }
    stretchScreenLayout(root, static_cast<int>(screenHeight_) - root->height());
    root->move(0, 0);
    root->setFocusPolicy(Qt::NoFocus);
    auto field = [&](auto*& target, const char* name) {
        using T = std::remove_pointer_t<std::remove_reference_t<decltype(target)>>;
        target = root->findChild<T*>(name);
        if (target == nullptr) {
            std::fprintf(stderr, "fieldmeter: the screen layout lacks %s\n", name);
            std::abort();
        }
    };
    field(playButton, "playButton");
    field(mailButton, "mailButton");
    field(timeLabel, "timeLabel");
    field(highFreqLabel, "highFreqLabel");
    field(lowFreqLabel, "lowFreqLabel");
    field(numPassLabel, "numPassLabel");
    field(rmsPower, "rmsPower");
    field(highFreqSlider, "highFreqSlider");
    field(lowFreqSlider, "lowFreqSlider");
    field(numPassSlider, "numPassSlider");
    field(waveformGraph, "waveformGraph");
    field(historyGraph, "historyGraph");
    field(powerBar, "powerBar");
    field(powerBar2, "powerBar2");
    field(colorOverlay, "colorOverlay");
    field(spectrumGraph, "spectrumGraph");
    field(dsensorView, "dsensorView");
    field(graphOverlay, "graphOverlay");
    field(sensitivySlider, "sensitivySlider");
    field(baseSlider, "baseSlider");
    field(instructionsOverlay, "instructionsOverlay");
    field(aboutInstructions, "aboutInstructions");
    field(infoButton, "infoButton");
    field(closeButton, "closeButton");
    field(waveformTextImage, "waveformTextImage");
    connectActions();
}

// Each control names its action in the layout (the dynamic property "action").
void ViewController::connectActions() {
    using Action = void (ViewController::*)(QObject*);
    static const std::pair<const char*, Action> kActions[] = {
        {"instructionsTapped:", &ViewController::instructionsTapped},
        {"switchWavSpectrum:", &ViewController::switchWavSpectrum},
        {"showAboutInstructions:", &ViewController::showAboutInstructions},
        {"hideAboutInstructions:", &ViewController::hideAboutInstructions},
        {"sensitivySliderValueChanged:", &ViewController::sensitivySliderValueChanged},
        {"baseSliderValueChanged:", &ViewController::baseSliderValueChanged},
        {"highFreqSliderValueChanged:", &ViewController::highFreqSliderValueChanged},
        {"lowFreqSliderValueChanged:", &ViewController::lowFreqSliderValueChanged},
        {"numPassLabelSliderValueChanged:", &ViewController::numPassLabelSliderValueChanged},
        {"togglePlay:", &ViewController::togglePlay},
        {"mailFile:", &ViewController::mailFile},
    };
    for (QWidget* w : findChildren<QWidget*>()) {
        const QString name = w->property("action").toString();
        if (name.isEmpty()) {
            continue;
        }
        Action action = nullptr;
        for (const auto& [actionName, member] : kActions) {
            if (name == actionName) {
                action = member;
            }
        }
        if (action == nullptr) {
            std::fprintf(stderr, "fieldmeter: %s names an unknown action %s\n",
                         qPrintable(w->objectName()), qPrintable(name));
            continue;
        }
        auto send = [this, action, w] { (this->*action)(w); };
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            connect(button, &QAbstractButton::clicked, this, send);
        } else if (auto* slider = qobject_cast<FloatSlider*>(w)) {
            connect(slider, &FloatSlider::valueChangedFloat, this, send);
        } else if (auto* graph = qobject_cast<fm::views::GraphView*>(w)) {
            connect(graph, &fm::views::GraphView::tapped, this, send);
        } else if (auto* image = qobject_cast<ImageView*>(w)) {
            connect(image, &ImageView::tapped, this, send);
        }
    }
}

void ViewController::viewDidLoad() {
    // The motion sources; accelerometer samples arrive at 100 Hz.
    motionManager = std::make_unique<fm::platform::MotionManager>();
    accelerometer = fm::platform::Accelerometer::sharedAccelerometer();
    accelerometer->setUpdateInterval(0.01);
    accelerometer->setDelegate(this);
    // The tall screen is told by its height alone.
    if (screenHeight_ == 568.0) {
        isTallScreen = 1;
    }
    // Nothing records until the record button is pressed.
    fm::recording::rawSampleCount = 0;
    fm::recording::recordingActive.store(0, std::memory_order_relaxed);
    setIsRecording(0);
    // The waveform is drawn at half height; both graphs on a log scale.
    waveformGraph->externalYConversion = 0.5;
    waveformGraph->logScaleMode = true;
    historyGraph->externalYConversion = 1.0;
    historyGraph->logScaleMode = true;
    // The read-out in seven-segment digits.
    rmsPower->setFont(fm::toolkit::fontWithName(fm::toolkit::kDigitalFontName, kReadOutFontSize));
    // The digits keep to the band that full-size digits fill, above the caption, so that
    // smaller ones (a level too wide) stay centred in it.
    rmsPower->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    rmsPower->setContentsMargins(0, 0, 0,
                                 std::max(0, rmsPower->height() - 2 * rmsPower->margin() -
                                                 rmsPower->fontMetrics().height()));
    playButton->setAutoFillBackground(false);
    // The FFT is planned before capture starts (planning is not thread-safe). A reloaded view
    // must not stop the capture that runs.
    FFTSetup();
    if (mAudioUnit == nullptr) {
        programmaticPlay();
    }
    overlayMode = kBarsPage;
    // Swipes left and right turn the pages; a reload keeps the two recognizers it has.
    if (swipeRecognizers_.empty()) {
        for (auto direction : {fm::toolkit::SwipeGestureRecognizer::Left,
                               fm::toolkit::SwipeGestureRecognizer::Right}) {
            auto* recognizer = new fm::toolkit::SwipeGestureRecognizer(
                [this](fm::toolkit::SwipeGestureRecognizer* r) { handleViewsSwipe(r); });
            recognizer->setDirection(direction);
            recognizer->addToWidget(this);
            swipeRecognizers_.push_back(recognizer);
        }
    }
    // A tall screen starts with more gain.
    fm::recording::motionUpdatesOn = false;
    if (isTallScreen == 1) {
        // The slider's handler squares its value: start it at the root of the gain, so that
        // the first touch moves the gain on from 3.5 instead of jumping to the slider squared.
        fm::audio::sensitivityGain.store(3.5f, std::memory_order_relaxed);
        sensitivySlider->setValue(std::sqrt(3.5f));
    } else {
        fm::audio::sensitivityGain.store(1.0f, std::memory_order_relaxed);
    }
    // The base level starts at 1 on a slider from 0 to 100.
    fm::audio::baseLevel.store(1.0f, std::memory_order_relaxed);
    baseSlider->setMaximumValue(100.0f);
    baseSlider->setMinimumValue(0.0f);
    // The gyroscope and attitude updates start with the screen.
    toggleUpdates();
    // The about page scrolls over the whole instructions image. The image (about 14 MB decoded)
    // is read when the page opens and let go when it closes.
    aboutInstructions->setGeometry(0, 0, 320, 480);
    aboutInstructions->setFocusPolicy(Qt::NoFocus);  // keys belong to the screen, which scrolls it
    auto* content = new ImageView();
    content->setFixedSize(320, 2752);
    aboutInstructions->setWidget(content);
    // A meter is watched, not touched: the screen must not dim or lock while it runs.
    fm::toolkit::setIdleTimerDisabled(true);

    if (soundLevels_ == nullptr) {
        soundLevels_ = new fm::screen::SoundLevelDisplay(
            rmsPower->parentWidget(), rmsPower, rmsPower->findChild<QLabel*>("levelCaption"));
        soundLevels_->line()->stackUnder(aboutInstructions);  // over every page, under overlays
    }
    soundLevels_->placeLineIn(soundLevelLineBand(overlayMode));

    if (!viewDidLoadRan_) {
        viewDidLoadRan_ = true;
        connect(fm::platform::DeviceOrientationSource::currentDevice(),
                &fm::platform::DeviceOrientationSource::orientationDidChange, this,
                &ViewController::deviceOrientationDidChange);
    }
}

namespace {

// The keys that scroll the open about page, as they scroll a page of text.
std::optional<QAbstractSlider::SliderAction> aboutPageScroll(int key) {
    switch (key) {
        case Qt::Key_Up:
            return QAbstractSlider::SliderSingleStepSub;
        case Qt::Key_Down:
            return QAbstractSlider::SliderSingleStepAdd;
        case Qt::Key_PageUp:
            return QAbstractSlider::SliderPageStepSub;
        case Qt::Key_PageDown:
            return QAbstractSlider::SliderPageStepAdd;
        case Qt::Key_Home:
            return QAbstractSlider::SliderToMinimum;
        case Qt::Key_End:
            return QAbstractSlider::SliderToMaximum;
        default:
            return std::nullopt;
    }
}

}  // namespace

void ViewController::keyPressEvent(QKeyEvent* event) {
    constexpr double kTenDegrees = 10.0 * std::numbers::pi / 180.0;
    if (aboutInstructions != nullptr && !aboutInstructions->isHidden()) {
        if (const auto scroll = aboutPageScroll(event->key())) {
            aboutInstructions->verticalScrollBar()->triggerAction(*scroll);
            event->accept();
            return;
        }
    }
    switch (event->key()) {
        case Qt::Key_R:
            // Like the button: no recording control while the button is hidden.
            if (playButton != nullptr && !playButton->isHidden()) {
                togglePlay(playButton);
            }
            break;
        case Qt::Key_M:
            mailFile(mailButton);
            break;
        case Qt::Key_W:
            switchWavSpectrum(nullptr);
            break;
        case Qt::Key_I:
            showAboutInstructions(infoButton);
            break;
        case Qt::Key_Escape:
            hideAboutInstructions(closeButton);
            break;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            instructionsTapped(instructionsOverlay);
            break;
        case Qt::Key_BracketLeft:
            fm::platform::turnDeviceBy(-kTenDegrees);
            break;
        case Qt::Key_BracketRight:
            fm::platform::turnDeviceBy(kTenDegrees);
            break;
        case Qt::Key_E:
            processAndWriteToFile();
            break;
        case Qt::Key_D:
            if (soundLevels_ != nullptr) {
                soundLevels_->toggleReadout();
                rmsPower->setText(
                    soundLevels_->readoutText(fm::audio::rmsValue.load(std::memory_order_relaxed)));
            }
            break;
        case Qt::Key_K:
            if (soundLevels_ != nullptr) {
                soundLevels_->startCalibration();
            }
            break;
        case Qt::Key_Right:
        case Qt::Key_Left:
            // Arrow keys normally reach the swipe recognizers as shortcuts; a key sent to the
            // screen directly (keys read from standard input) swipes here.
            for (auto* recognizer : swipeRecognizers_) {
                const bool next = event->key() == Qt::Key_Right;
                if (recognizer->direction() == (next
                                                    ? fm::toolkit::SwipeGestureRecognizer::Left
                                                    : fm::toolkit::SwipeGestureRecognizer::Right)) {
                    handleViewsSwipe(recognizer);
                }
            }
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void ViewController::wheelEvent(QWheelEvent* event) {
    // One notch (120 units) turns the device by 10 degrees.
    const double notches = event->angleDelta().y() / 120.0;
    fm::platform::turnDeviceBy(notches * 10.0 * std::numbers::pi / 180.0);
    event->accept();
}

}  // namespace fm::screen
