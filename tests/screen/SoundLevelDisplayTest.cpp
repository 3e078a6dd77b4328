// The sound levels on the real screen, with the scripted input: calibration with K kept for the
// next run, the read-out's switch D, and the LAeq left beside a recording. The user's settings
// live in a private folder (XDG_CONFIG_HOME, set by the build).
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QSettings>
#include <cmath>
#include <vector>

#include "measure/Measurement.h"
#include "platform/settings/QtCalibrationStore.h"
#include "screen/ImageButton.h"
#include "screen/SoundLevelDisplay.h"
#include "tests/screen/ScreenFixture.h"

using fm::test::ScreenTest;

namespace {

class LevelsScreenTest : public ScreenTest {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        QSettings settings("fieldmeter", "fieldmeter");
        ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
        ASSERT_TRUE(settings.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + "/"))
            << settings.fileName().toStdString();
        settings.clear();
        settings.sync();
        newRun();
    }
    void TearDown() override {
        ScreenTest::TearDown();
        fm::screen::setCalibration(nullptr, true);
        fm::measure::soundLevelMeter().setCalibration(0.0, false);
    }
    // As a new process starts: the calibration read from the settings, the window asking.
    std::vector<std::string> newRun(double referenceDb = 94.0) {
        calibration_ =
            std::make_unique<fm::measure::Calibration>(fm::measure::soundLevelMeter(), store_);
        auto said = calibration_->setUp(false, std::nullopt, referenceDb);
        fm::screen::setCalibration(calibration_.get(), true);
        return said;
    }

    // `seconds` of a 1 kHz sine of peak 3277 (-20.0 dBFS) in 1024-frame blocks; continues the
    // phase of the previous call.
    void tone(double seconds, double peak = 3277.0) {
        const int frames = static_cast<int>(std::lround(seconds * 44100.0));
        for (int at = 0; at < frames; at += 1024) {
            std::vector<std::int16_t> b(std::min(1024, frames - at));
            for (auto& s : b) {
                s = static_cast<std::int16_t>(
                    std::lround(peak * std::sin(2.0 * M_PI * 1000.0 * phase_++ / 44100.0)));
            }
            script_->addBlock(std::move(b));
        }
        // The measurement's ring holds about three seconds: a busy machine's measuring thread
        // is let catch up every 32 blocks, so that no frame is dropped.
        auto& measurement = fm::measure::measurement();
        const std::uint64_t dropped = measurement.framesDropped();
        for (int n = 1; script_->deliverNextBlock(); ++n) {
            if (n % 32 == 0) {
                measurement.settle();
            }
        }
        measurement.settle();
        ASSERT_EQ(measurement.framesDropped(), dropped);
    }
    void press(fm::screen::ViewController& vc, Qt::Key key, const char* text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(&vc, &event);
    }
    QString line() { return vc_->soundLevelDisplay()->line()->text(); }
    fm::screen::CalibrationQuestion* question() {
        return vc_->soundLevelDisplay()->calibrationQuestion();
    }
    void answer(const QString& button) {
        for (QAbstractButton* b : question()->buttons()) {
            if (b->text().remove('&') == button) {
                b->click();
                return;
            }
        }
        FAIL() << "no button " << button.toStdString();
    }

    long phase_ = 0;
    fm::platform::QtCalibrationStore store_;
    std::unique_ptr<fm::measure::Calibration> calibration_;
};

TEST_F(LevelsScreenTest, KShowsTheResultWithKeepAndCancelAndTheNextRunStartsCalibrated) {
    fm::screen::ViewController& vc = load();
    tone(1.0);
    vc.updateRMS(nullptr);
    EXPECT_TRUE(line().startsWith("LAF -20.0 dBFS  LAeq ")) << line().toStdString();

    // The reference source plays "94 dB": -20 dBFS here, so 0 dBFS is 114 dB. Shown before it
    // is used; Cancel changes nothing.
    press(vc, Qt::Key_K, "k");
    tone(2.9);
    vc.updateRMS(nullptr);
    EXPECT_TRUE(line().startsWith("CALIBRATING 94.0 dB  2.9 s")) << line().toStdString();
    EXPECT_EQ(question(), nullptr);
    tone(0.2);
    vc.updateRMS(nullptr);
    ASSERT_NE(question(), nullptr);
    EXPECT_TRUE(
        question()->text().contains("0 dBFS = 114.00 dB (the 94.0 dB reference read -20.00 dBFS)"))
        << question()->text().toStdString();
    EXPECT_FALSE(fm::measure::readSoundLevels().calibrated);
    answer("Cancel");
    EXPECT_FALSE(fm::measure::readSoundLevels().calibrated);
    EXPECT_FALSE(store_.load().has_value());

    press(vc, Qt::Key_K, "k");
    tone(3.1);
    vc.updateRMS(nullptr);
    ASSERT_NE(question(), nullptr);
    answer("Keep");
    auto levels = fm::measure::readSoundLevels();
    EXPECT_TRUE(levels.calibrated);
    EXPECT_NEAR(levels.calibrationOffsetDb, 114.0, 0.05);
    EXPECT_NEAR(levels.LZF, 94.0, 0.05);
    vc.updateRMS(nullptr);
    EXPECT_TRUE(line().startsWith("LAF 94.0 dB  LAeq ")) << line().toStdString();

    // The next run starts calibrated, with the date it was set; a reference 1 dB louder is a
    // drift worth a flag.
    vc_.reset();
    fm::measure::soundLevelMeter().setCalibration(0.0, false);
    const auto said = newRun();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].find("calibrated on 20"), 0u) << said[0];
    EXPECT_NE(said[0].find("Z: 0 dBFS = 114.0 dB"), std::string::npos) << said[0];
    fm::screen::ViewController& next = load();
    EXPECT_NEAR(fm::measure::readSoundLevels().calibrationOffsetDb, 114.0, 0.05);
    const double quieter = 3277.0 / std::pow(10.0, 1.0 / 20.0);
    tone(1.0, quieter);
    press(next, Qt::Key_K, "k");
    tone(3.1, quieter);
    next.updateRMS(nullptr);
    ASSERT_NE(question(), nullptr);
    const QString day = QString::fromStdString(store_.load()->date.substr(0, 10));
    EXPECT_TRUE(question()->text().contains("Change: +1.0 dB since " + day +
                                            " - more than 0.5 dB: check the microphone"))
        << question()->text().toStdString();
    answer("Cancel");
}

TEST_F(LevelsScreenTest, KeyDSwitchesTheReadOutToLAFAndItIsRemembered) {
    fm::screen::ViewController& vc = load();
    auto* caption = vc.rmsPower->findChild<QLabel*>("levelCaption");
    ASSERT_NE(caption, nullptr);
    tone(1.0);
    fm::audio::rmsValue.store(12.345);
    vc.updateRMS(nullptr);
    EXPECT_EQ(vc.rmsPower->text(), "12.35");
    press(vc, Qt::Key_D, "d");
    EXPECT_EQ(vc.rmsPower->text(), "-20.0");
    EXPECT_EQ(caption->text(), "LAF dBFS");

    vc_.reset();
    fm::screen::ViewController& next = load();
    next.updateRMS(nullptr);
    EXPECT_EQ(next.rmsPower->text(), "-20.0");
    press(next, Qt::Key_D, "d");
    EXPECT_EQ(next.rmsPower->text(), "12.35");
    EXPECT_EQ(next.rmsPower->findChild<QLabel*>("levelCaption")->text(), "LEVEL");
}

TEST_F(LevelsScreenTest, TheLineNamesTheRaisedLimitsShortly) {
    fm::screen::ViewController& vc = load();
    tone(1.0);
    std::vector<std::string> raised = {"night"};
    fm::screen::setRaisedLimits([&raised] { return raised; });
    vc.soundLevelDisplay()->tick();
    EXPECT_TRUE(line().startsWith("night! LAF -20.0 dBFS")) << line().toStdString();
    raised = {"building-site", "peak"};
    vc.soundLevelDisplay()->tick();
    EXPECT_TRUE(line().startsWith("building..+1! LAF")) << line().toStdString();
    raised.clear();
    vc.soundLevelDisplay()->tick();
    EXPECT_TRUE(line().startsWith("LAF -20.0")) << line().toStdString();
    fm::screen::setRaisedLimits({});
}

TEST_F(LevelsScreenTest, ARecordingLeavesItsDurationAndLAeqBesideIt) {
    fm::screen::ViewController& vc = load();
    tone(1.0, 32767.0);  // loud before the recording, to full scale: must not count
    ASSERT_GT(fm::measure::readSoundLevels().overloadSamples, 0u);
    vc.playButton->click();
    tone(2.0);
    vc.updateRMS(nullptr);
    EXPECT_TRUE(line().contains("REC LAeq -20.0")) << line().toStdString();
    // The last second was clean, but the run overloaded: its LAeq keeps the mark.
    EXPECT_TRUE(line().endsWith(" [OVL]") && !line().contains("OVL LAF")) << line().toStdString();
    tone(2.0, 0.0);  // half of it silent: 3 dB below the tone
    ::testing::internal::CaptureStderr();
    vc.playButton->click();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("recording 4.0 s, LAeq -23.0 dBFS"), std::string::npos) << err;

    QFile summary(QString::fromStdString((docs_ / "output2.txt").string()));
    ASSERT_TRUE(summary.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(summary.readAll());
    EXPECT_TRUE(text.startsWith("duration 4.0 s\nLAeq -23.0 dBFS\nuncalibrated"))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("\ninput mic\noverload 0 samples\nmicrophone correction: none\n"))
        << text.toStdString();
    vc.updateRMS(nullptr);
    EXPECT_FALSE(line().contains("REC")) << line().toStdString();
}

// On both screens and every page the line, with today's text and with 40 characters, stays on
// the screen, shows all its text, and covers no other view: only the colour page's flood (its
// backdrop) and the cover, which lies over everything until tapped away.
TEST_F(LevelsScreenTest, TheLineCoversNoViewOnEveryPageAndHasRoomForFortyCharacters) {
    for (const double height : {480.0, 568.0}) {
        fm::screen::ViewController& vc = load(height);
        QLabel* line = vc.soundLevelDisplay()->line();
        for (int page = 1; page <= 3; ++page, swipeLeft()) {
            for (const QString& text :
                 {line->text(), QString("NO INPUT  OVL  EVENT  LAF -120.0 dB DEMO")}) {
                SCOPED_TRACE(testing::Message() << height << " " << page << text.toStdString());
                vc.soundLevelDisplay()->showLine(text);
                const QRect at(line->mapTo(&vc, QPoint()), line->size());
                EXPECT_TRUE(QRect(0, 0, 320, height).contains(at) && line->isVisibleTo(&vc));
                const int flags = Qt::AlignCenter | (line->wordWrap() ? Qt::TextWordWrap : 0);
                EXPECT_TRUE(line->contentsRect().contains(
                    line->fontMetrics().boundingRect(line->contentsRect(), flags, text)));
                EXPECT_GE(line->font().pixelSize(), 8);
                for (QWidget* w : vc.findChildren<QWidget*>()) {
                    if (w != line && !w->isAncestorOf(line) && w->isVisibleTo(&vc) &&
                        w != vc.instructionsOverlay && w->objectName() != "colorOverlay") {
                        EXPECT_FALSE(at.intersects({w->mapTo(&vc, QPoint()), w->size()}))
                            << w->objectName().toStdString();
                    }
                }
            }
        }
    }
}

}  // namespace
