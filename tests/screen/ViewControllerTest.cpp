// Construction, pages, caption, cover, about page, orientation and keys of the real screen.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "recording/MotionSensing.h"
#include "screen/FloatSlider.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "tests/screen/ScreenFixture.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"

using fm::test::ScreenTest;
using fm::toolkit::SwipeGestureRecognizer;

namespace {

// The seven page views' visibility, in the page table's order.
std::vector<bool> pageViewsShown(const fm::screen::ViewController& vc) {
    return {!vc.powerBar->isHidden(),     !vc.powerBar2->isHidden(), !vc.dsensorView->isHidden(),
            !vc.colorOverlay->isHidden(), !vc.rmsPower->isHidden(),  !vc.graphOverlay->isHidden(),
            !vc.playButton->isHidden()};
}
const std::vector<bool> kPage1{true, true, false, false, true, true, true};
const std::vector<bool> kPage2{false, false, true, false, false, false, true};
const std::vector<bool> kPage3{false, false, false, true, true, true, false};

void press(QWidget* w, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

TEST_F(ScreenTest, ConstructionLeavesTheScreenOnPageOneWithEverythingRunning) {
    fm::screen::ViewController& vc = load();
    EXPECT_EQ(fm::screen::isTallScreen, 0);
    EXPECT_FLOAT_EQ(fm::audio::sensitivityGain.load(), 1.0f);
    EXPECT_FLOAT_EQ(fm::audio::baseLevel.load(), 1.0f);
    EXPECT_FLOAT_EQ(vc.baseSlider->minimumValue(), 0.0f);
    EXPECT_FLOAT_EQ(vc.baseSlider->maximumValue(), 100.0f);
    EXPECT_FLOAT_EQ(vc.sensitivySlider->value(), 1.0f);  // as the layout left it
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kBarsPage);
    EXPECT_EQ(pageViewsShown(vc), kPage1);
    EXPECT_EQ(vc.waveformTextImage->imageName(), "waveformtext.png");
    EXPECT_FALSE(vc.waveformTextImage->image().isNull());
    EXPECT_EQ(vc.isRecording(), 0);
    EXPECT_EQ(fm::recording::recordingActive.load(), 0);
    EXPECT_EQ(fm::recording::rawSampleCount, 0);
    EXPECT_EQ(vc.timeLabel->text(), "00:00");
    EXPECT_DOUBLE_EQ(vc.waveformGraph->externalYConversion, 0.5);
    EXPECT_TRUE(vc.waveformGraph->logScaleMode);
    EXPECT_DOUBLE_EQ(vc.historyGraph->externalYConversion, 1.0);
    EXPECT_TRUE(vc.historyGraph->logScaleMode);
    EXPECT_EQ(vc.rmsPower->font().family(), "DSEG7 Classic");

    // Capture, the meter, counter and gyro timers, motion updates, the accelerometer.
    EXPECT_NE(vc.mAudioUnit, nullptr);
    EXPECT_TRUE(script_->hasRunningUnit());
    ASSERT_TRUE(vc.meterTimer());
    EXPECT_TRUE(vc.meterTimer()->isValid());
    EXPECT_DOUBLE_EQ(vc.meterTimer()->timeInterval(), 0.1);
    ASSERT_TRUE(vc.counterTimer());
    EXPECT_TRUE(vc.counterTimer()->isValid());
    EXPECT_DOUBLE_EQ(vc.counterTimer()->timeInterval(), 1.0);
    ASSERT_TRUE(vc.gyroTimer());
    EXPECT_TRUE(vc.gyroTimer()->isValid());
    EXPECT_NEAR(vc.gyroTimer()->timeInterval(), 1.0 / 30.0, 1e-12);
    EXPECT_TRUE(fm::recording::motionUpdatesOn);
    EXPECT_TRUE(vc.motionManager->isGyroActive());
    EXPECT_TRUE(vc.motionManager->isDeviceMotionActive());
    EXPECT_EQ(vc.accelerometer->delegate(), &vc);
    EXPECT_DOUBLE_EQ(vc.accelerometer->updateInterval(), 0.01);

    // Exactly two swipe recognizers, left and right.
    ASSERT_EQ(vc.swipeRecognizers().size(), 2u);
    EXPECT_EQ(vc.swipeRecognizers()[0]->direction(), SwipeGestureRecognizer::Left);
    EXPECT_EQ(vc.swipeRecognizers()[1]->direction(), SwipeGestureRecognizer::Right);

    // The about page: hidden, scrolling over 2752 points in a 480-point frame.
    EXPECT_TRUE(vc.aboutInstructions->isHidden());
    EXPECT_TRUE(vc.closeButton->isHidden());
    EXPECT_EQ(vc.aboutInstructions->geometry(), QRect(0, 0, 320, 480));
    ASSERT_NE(vc.aboutInstructions->widget(), nullptr);
    EXPECT_EQ(vc.aboutInstructions->widget()->size(), QSize(320, 2752));
    // The cover lies over everything.
    EXPECT_EQ(vc.instructionsOverlay->geometry(), QRect(0, 0, 320, 480));
    EXPECT_FALSE(vc.instructionsOverlay->isHidden());
}

TEST_F(ScreenTest, TallScreenSetsGainAndSliderToThreePointFive) {
    fm::screen::ViewController& vc = load(568.0);
    EXPECT_EQ(fm::screen::isTallScreen, 1);
    EXPECT_FLOAT_EQ(fm::audio::sensitivityGain.load(), 3.5f);
    // The slider squares its value: it starts at the root, so a touch moves the gain on
    // smoothly from 3.5 rather than jumping to 3.5 squared.
    EXPECT_FLOAT_EQ(vc.sensitivySlider->value(), std::sqrt(3.5f));
    vc.sensitivySlider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_GT(fm::audio::sensitivityGain.load(), 3.5f);
    EXPECT_LT(fm::audio::sensitivityGain.load(), 3.55f);
    EXPECT_EQ(vc.height(), 568);
    // The controls moved down with the taller screen.
    EXPECT_EQ(vc.playButton->geometry().top(), 334 + 88);
}

TEST_F(ScreenTest, ReloadedViewKeepsCaptureAndItsTwoRecognizers) {
    fm::screen::ViewController& vc = load();
    auto* unit = vc.mAudioUnit;
    vc.viewDidLoad();
    EXPECT_EQ(vc.mAudioUnit, unit);
    EXPECT_TRUE(script_->hasRunningUnit());
    EXPECT_EQ(vc.swipeRecognizers().size(), 2u);
}

TEST_F(ScreenTest, SwipesStepThroughThreePagesWithoutWrapping) {
    fm::screen::ViewController& vc = load();
    swipeRight();  // nothing before page 1
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kBarsPage);
    EXPECT_EQ(pageViewsShown(vc), kPage1);
    swipeLeft();
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kDirectionPage);
    EXPECT_EQ(pageViewsShown(vc), kPage2);
    swipeLeft();
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kColourPage);
    EXPECT_EQ(pageViewsShown(vc), kPage3);
    swipeLeft();  // nothing after page 3
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kColourPage);
    EXPECT_EQ(pageViewsShown(vc), kPage3);
    swipeRight();
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kDirectionPage);
    EXPECT_EQ(pageViewsShown(vc), kPage2);

    // A page change sets every view outright, repairing changes made by other means.
    vc.powerBar->show();
    vc.colorOverlay->show();
    vc.playButton->hide();
    swipeRight();
    EXPECT_EQ(pageViewsShown(vc), kPage1);
    // Views outside the table keep their visibility.
    EXPECT_FALSE(vc.waveformGraph->isHidden());
    EXPECT_FALSE(vc.mailButton->isHidden());
}

TEST_F(ScreenTest, ArrowKeysSentToTheScreenSwipe) {
    fm::screen::ViewController& vc = load();
    press(&vc, Qt::Key_Right);
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kDirectionPage);
    press(&vc, Qt::Key_Right);
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kColourPage);
    press(&vc, Qt::Key_Left);
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kDirectionPage);
}

TEST_F(ScreenTest, CaptionTogglesBetweenWaveformAndSpectrum) {
    fm::screen::ViewController& vc = load();
    vc.switchWavSpectrum(nullptr);
    EXPECT_FALSE(fm::audio::showWaveform.load());
    EXPECT_EQ(vc.waveformTextImage->imageName(), "spectrumtext.png");
    vc.switchWavSpectrum(nullptr);
    EXPECT_TRUE(fm::audio::showWaveform.load());
    EXPECT_EQ(vc.waveformTextImage->imageName(), "waveformtext.png");
    // A tap on the graph or its caption sends the action, as does W.
    emit vc.waveformGraph->tapped();
    EXPECT_FALSE(fm::audio::showWaveform.load());
    emit vc.waveformTextImage->tapped();
    EXPECT_TRUE(fm::audio::showWaveform.load());
    press(&vc, Qt::Key_W);
    EXPECT_FALSE(fm::audio::showWaveform.load());

    // Once the caption is let go the toggle still works, with nothing to show it on.
    vc.viewDidUnload();
    EXPECT_EQ(vc.waveformTextImage, nullptr);
    vc.switchWavSpectrum(nullptr);
    EXPECT_TRUE(fm::audio::showWaveform.load());
}

// Relative luminance and contrast ratio as the web's accessibility guidelines define them.
double luminance(QColor c) {
    auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}
double contrast(QColor a, QColor b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(ScreenTest, EveryTextOnTheColourPageIsReadableAtEveryColourOfTheRamp) {
    fm::screen::ViewController& vc = load();
    vc.instructionsOverlay->hide();  // tapped away
    swipeLeft();
    swipeLeft();
    fm::audio::rmsValue.store(12345.67);
    vc.updateRMS(nullptr);
    QList<QLabel*> texts;
    for (QLabel* label : vc.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&vc) && !label->text().isEmpty()) {
            texts.append(label);
        }
    }
    // The level and its caption, the history's caption, the time, five sliders' names and
    // three of their values; a text added later is checked as well.
    ASSERT_GE(texts.size(), 12);
    auto render = [&] { return vc.grab().toImage().convertToFormat(QImage::Format_RGB32); };
    auto colourAt = [](const QImage& image, QPoint p) { return QColor(image.pixel(p)); };
    const QRect caption(vc.waveformTextImage->geometry().adjusted(9, 2, -9, -2));
    QImage captionOnBlack;

    for (int step = 0; step <= 48; ++step) {  // black, blue, yellow, orange, red, white
        vc.colorOverlay->normPower = static_cast<float>(step * 0.025);
        SCOPED_TRACE(vc.colorOverlay->normPower);
        const QImage shown = render();
        // Only the text goes: a label's own style (its backdrop) stays behind it.
        QStringList styles;
        for (QLabel* label : texts) {
            styles.append(label->styleSheet());
            label->setStyleSheet(styles.back().isEmpty()
                                     ? QStringLiteral("color: transparent")
                                     : styles.back() +
                                           QStringLiteral(" QLabel#%1 { color: transparent; }")
                                               .arg(label->objectName()));
        }
        const QImage behind = render();
        for (qsizetype i = 0; i < texts.size(); ++i) {
            texts[i]->setStyleSheet(styles[i]);
        }
        for (QLabel* label : texts) {
            SCOPED_TRACE(label->objectName().toStdString());
            const QRect area(label->mapTo(&vc, QPoint(0, 0)), label->size());
            // The text's own colour: where it stands out most from what is behind it.
            QColor ink;
            double best = 0.0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    const double c = contrast(colourAt(shown, {x, y}), colourAt(behind, {x, y}));
                    if (shown.pixel(x, y) != behind.pixel(x, y) && c > best) {
                        best = c;
                        ink = colourAt(shown, {x, y});
                    }
                }
            }
            ASSERT_TRUE(ink.isValid()) << "no text drawn";
            // Everything behind any part of the text stands apart from it.
            double worst = 100.0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    if (shown.pixel(x, y) != behind.pixel(x, y)) {
                        worst = std::min(worst, contrast(ink, colourAt(behind, {x, y})));
                    }
                }
            }
            EXPECT_GE(worst, 4.5);
        }
        // The caption over the graph is an image: the words must look as they do on black.
        if (step == 0) {
            captionOnBlack = shown.copy(caption);
        }
        EXPECT_EQ(shown.copy(caption), captionOnBlack);
    }
}

TEST_F(ScreenTest, CoverSlidesOffOnceAndAboutPageOpensAndCloses) {
    fm::screen::ViewController& vc = load();
    vc.instructionsOverlay->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return vc.instructionsOverlay->geometry() == QRect(600, 0, 320, 480); }, 3000));
    EXPECT_FALSE(vc.instructionsOverlay->isHidden());  // moved away, not hidden
    vc.instructionsTapped(nullptr);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return vc.instructionsOverlay->geometry() == QRect(600, 0, 320, 480); }, 3000));

    // The about page's large image is held only while the page is open.
    const auto* about = qobject_cast<fm::screen::ImageView*>(vc.aboutInstructions->widget());
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->image().isNull());
    vc.infoButton->click();
    EXPECT_FALSE(vc.aboutInstructions->isHidden());
    EXPECT_FALSE(vc.closeButton->isHidden());
    EXPECT_EQ(about->image().size(), QSize(640, 5504));
    vc.closeButton->click();
    EXPECT_TRUE(vc.aboutInstructions->isHidden());
    EXPECT_TRUE(vc.closeButton->isHidden());
    EXPECT_TRUE(about->image().isNull());
    vc.hideAboutInstructions(nullptr);  // already hidden: nothing changes
    EXPECT_TRUE(vc.aboutInstructions->isHidden());
    press(&vc, Qt::Key_I);
    EXPECT_FALSE(vc.aboutInstructions->isHidden());
    press(&vc, Qt::Key_Escape);
    EXPECT_TRUE(vc.aboutInstructions->isHidden());
}

TEST_F(ScreenTest, OrientationPolicyOnAScreenThatIsNotTall) {
    fm::screen::ViewController& vc = load();
    auto* device = fm::platform::DeviceOrientationSource::currentDevice();
    EXPECT_EQ(vc.supportedInterfaceOrientations(), 30);
    device->setOrientation(fm::platform::DeviceOrientationPortraitUpsideDown);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(vc.shouldAutorotate());
    }
    EXPECT_EQ(fm::screen::rotationLocked, 0);
    EXPECT_TRUE(vc.shouldAutorotateToInterfaceOrientation(1));
    EXPECT_TRUE(vc.shouldAutorotateToInterfaceOrientation(2));
    EXPECT_FALSE(vc.shouldAutorotateToInterfaceOrientation(0));
    EXPECT_FALSE(vc.shouldAutorotateToInterfaceOrientation(3));
    EXPECT_FALSE(vc.shouldAutorotateToInterfaceOrientation(4));

    // Each reported change turns the screen; face up is no interface orientation.
    QSignalSpy turned(&vc, &fm::screen::ViewController::interfaceOrientationChanged);
    device->setOrientation(fm::platform::DeviceOrientationLandscapeLeft);
    device->setOrientation(fm::platform::DeviceOrientationFaceUp);
    device->setOrientation(fm::platform::DeviceOrientationPortrait);
    ASSERT_EQ(turned.count(), 2);
    EXPECT_EQ(turned.at(0).at(0).toInt(), 3);
    EXPECT_EQ(turned.at(1).at(0).toInt(), 1);
}

TEST_F(ScreenTest, TallScreenLocksRotationTheFirstTimeTheDeviceIsUpsideDown) {
    fm::screen::ViewController& vc = load(568.0);
    auto* device = fm::platform::DeviceOrientationSource::currentDevice();
    QSignalSpy turned(&vc, &fm::screen::ViewController::interfaceOrientationChanged);
    device->setOrientation(fm::platform::DeviceOrientationFaceUp);
    EXPECT_TRUE(vc.shouldAutorotate());
    device->setOrientation(fm::platform::DeviceOrientationLandscapeRight);
    device->setOrientation(fm::platform::DeviceOrientationPortraitUpsideDown);  // YES, and locks
    EXPECT_EQ(fm::screen::rotationLocked, 1);
    device->setOrientation(fm::platform::DeviceOrientationPortrait);
    EXPECT_FALSE(vc.shouldAutorotate());
    ASSERT_EQ(turned.count(), 2);
    EXPECT_EQ(turned.at(1).at(0).toInt(), 2);
}

TEST_F(ScreenTest, TallScreenOlderQueryAnswersNoAndSetsTheLock) {
    fm::screen::ViewController& vc = load(568.0);
    EXPECT_FALSE(vc.shouldAutorotateToInterfaceOrientation(1));
    EXPECT_EQ(fm::screen::rotationLocked, 1);
    EXPECT_FALSE(vc.shouldAutorotate());
}

TEST_F(ScreenTest, BracketKeysAndWheelTurnTheDeviceByTenDegrees) {
    fm::screen::ViewController& vc = load();
    constexpr double kTen = 10.0 * std::numbers::pi / 180.0;
    press(&vc, Qt::Key_BracketRight);
    press(&vc, Qt::Key_BracketRight);
    EXPECT_NEAR(vc.motionManager->deviceMotion()->attitude.yaw, 2 * kTen, 1e-12);
    press(&vc, Qt::Key_BracketLeft);
    EXPECT_NEAR(vc.motionManager->deviceMotion()->attitude.yaw, kTen, 1e-12);
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&vc, &wheel);
    EXPECT_NEAR(vc.motionManager->deviceMotion()->attitude.yaw, -kTen, 1e-12);
}

TEST_F(ScreenTest, MotionUpdatesStopOnTheSecondToggleAndStayStoppedOnTheThird) {
    fm::screen::ViewController& vc = load();
    auto firstTimer = vc.gyroTimer();
    vc.toggleUpdates();
    EXPECT_FALSE(vc.motionManager->isGyroActive());
    EXPECT_TRUE(vc.motionManager->isDeviceMotionActive());  // keeps running
    EXPECT_FALSE(firstTimer->isValid());
    EXPECT_TRUE(fm::recording::motionUpdatesOn);
    vc.toggleUpdates();
    EXPECT_FALSE(vc.motionManager->isGyroActive());
    EXPECT_EQ(vc.gyroTimer(), firstTimer);  // nothing restarted
    EXPECT_FALSE(vc.gyroTimer()->isValid());
    vc.doGyroUpdate();  // no sample: reads zeros, changes nothing
}

TEST_F(ScreenTest, AccelerometerSamplesReachTheRingsAtTheirInterval) {
    motion_->accel = fm::platform::Acceleration{0.0, 0.0, 0.23};
    load();
    const int start = fm::recording::accelIndex;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return (fm::recording::accelIndex - start + fm::recording::kAccelRingSize) %
                       fm::recording::kAccelRingSize >=
                   3;
        },
        5000));
    const int last = (fm::recording::accelIndex + fm::recording::kAccelRingSize - 1) %
                     fm::recording::kAccelRingSize;
    EXPECT_DOUBLE_EQ(fm::recording::accelValues[last], 1.0);
    EXPECT_NEAR(fm::recording::accelTimes[last] / 1000.0, fm::recording::secondsSince1970(), 5.0);
}

}  // namespace

// Images are put down pixel for pixel (translucent ones in bands); the picture is the one Qt's
// own drawing of the same pixmap gives.
TEST(ImageViewPicture, MatchesQtsOwnDrawingOfThePixmap) {
    QImage source(40, 200, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            source.setPixelColor(x, y, QColor(x * 6, y, 255 - y, (x * 7 + y) % 256));
        }
    }
    QPixmap pixmap = QPixmap::fromImage(source);
    pixmap.setDevicePixelRatio(2.0);
    fm::screen::ImageView view;
    view.setImage(pixmap);
    view.resize(20, 100);

    const auto canvas = [] {
        QImage image(QSize(30, 110) * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        image.fill(QColor(30, 90, 10));
        return image;
    };
    QImage drawn = canvas();
    {
        QPainter painter(&drawn);
        view.render(&painter, QPoint(3, 4), QRegion(), QWidget::DrawChildren);
    }
    QImage reference = canvas();
    {
        QPainter painter(&reference);
        painter.drawPixmap(QPointF(3, 4), pixmap);
    }
    int differing = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            differing += drawn.pixel(x, y) != reference.pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
}
