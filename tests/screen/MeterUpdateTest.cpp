// The meter update and the sliders on the real screen.
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <cmath>

#include "screen/FloatSlider.h"
#include "tests/screen/ScreenFixture.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"

using fm::test::ScreenTest;

namespace {

TEST_F(ScreenTest, ReadOutShowsTheLevelWithTwoDecimals) {
    fm::screen::ViewController& vc = load();
    fm::audio::rmsValue.store(0.0);
    vc.updateRMS(nullptr);
    EXPECT_EQ(vc.rmsPower->text(), "0.00");
    fm::audio::rmsValue.store(1234.5);
    vc.updateRMS(nullptr);
    EXPECT_EQ(vc.rmsPower->text(), "1234.50");
    fm::audio::rmsValue.store(7.0 / 3.0);
    vc.updateRMS(nullptr);
    EXPECT_EQ(vc.rmsPower->text(), "2.33");
}

TEST_F(ScreenTest, ReadOutShrinksSoThatEveryDigitOfTheLargestLevelsShows) {
    for (double height : {480.0, 568.0}) {
        fm::screen::ViewController& vc = load(height);
        QLabel* readOut = vc.rmsPower;
        // The columns where the read-out's amber digits leave ink.
        auto inkColumns = [&] {
            const QImage image = readOut->grab().toImage();
            int first = image.width();
            int last = -1;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (c.red() > 150 && c.red() > c.blue() + 60) {
                        first = std::min(first, x);
                        last = std::max(last, x);
                    }
                }
            }
            return std::pair{first, last};
        };
        // Full scale at the largest gain (4 squared), and where five digits begin.
        for (double level : {32768.0 * 16.0, 10000.0, 99999.99, 1234.5, 0.0}) {
            fm::audio::rmsValue.store(level);
            vc.updateRMS(nullptr);
            SCOPED_TRACE(readOut->text().toStdString());
            EXPECT_EQ(readOut->text(), QString::asprintf("%.02f", level));
            const auto [first, last] = inkColumns();
            ASSERT_LE(first, last);  // something is drawn
            // The label cuts its text off at its margin: no digit may reach that far.
            EXPECT_GT(first, readOut->margin());
            EXPECT_LT(last, readOut->width() - 1 - readOut->margin());
            EXPECT_LE(QFontMetricsF(readOut->font()).horizontalAdvance(readOut->text()),
                      readOut->contentsRect().width() - 2 * readOut->margin());
        }
        // A level that fits is shown at the full size again.
        EXPECT_EQ(readOut->font().pixelSize(), fm::screen::ViewController::kReadOutFontSize);
    }
}

TEST_F(ScreenTest, TopGraphTakesTheWaveformOrTheSpectrumAndZeroesTheOther) {
    fm::screen::ViewController& vc = load();
    for (int k = 0; k < fm::audio::kGraphPoints; ++k) {
        fm::audio::waveformSamples[k].store((k % 2 ? -1.0 : 1.0) * (k * 3.7));
        fm::audio::spectrumPower[k].store(static_cast<float>(k) * 0.013f);
    }
    vc.updateRMS(nullptr);
    for (int k = 0; k < fm::audio::kGraphPoints; ++k) {
        ASSERT_EQ(vc.waveformGraph->dataPoints[k], std::trunc(k * 3.7)) << k;
        ASSERT_EQ(vc.waveformGraph->dataPoints2[k], 0.0) << k;
    }
    vc.switchWavSpectrum(nullptr);
    vc.updateRMS(nullptr);
    for (int k = 0; k < fm::audio::kGraphPoints; ++k) {
        const float expected = static_cast<float>(k) * 0.013f * 250.0f;  // in single precision
        ASSERT_EQ(vc.waveformGraph->dataPoints[k], 0.0) << k;
        ASSERT_EQ(vc.waveformGraph->dataPoints2[k], static_cast<double>(expected)) << k;
    }
}

TEST_F(ScreenTest, HistoryIsARingOf320ColumnsWithTheBeatOnTheNewest) {
    fm::screen::ViewController& vc = load();
    for (int i = 0; i < 320; ++i) {
        fm::audio::rmsValue.store(100.0 + i);
        vc.updateRMS(nullptr);
    }
    EXPECT_EQ(fm::audio::historyIndex, 320);
    EXPECT_DOUBLE_EQ(vc.historyGraph->dataPoints[0], 100.0);
    EXPECT_DOUBLE_EQ(vc.historyGraph->dataPoints[319], 419.0);
    EXPECT_FLOAT_EQ(vc.historyGraph->beatXPosition, 319.0f);
    fm::audio::rmsValue.store(5.5);
    vc.updateRMS(nullptr);  // the 321st writes column 0 again
    EXPECT_EQ(fm::audio::historyIndex, 321);
    EXPECT_DOUBLE_EQ(vc.historyGraph->dataPoints[0], 5.5);
    EXPECT_FLOAT_EQ(vc.historyGraph->beatXPosition, 0.0f);
}

TEST_F(ScreenTest, BarsTakeTheBaseOnePointOneLogarithmOverAHundred) {
    fm::screen::ViewController& vc = load();
    fm::audio::rmsValue.store(1.0);
    vc.updateRMS(nullptr);
    EXPECT_EQ(vc.powerBar->normPower, 0.0f);
    EXPECT_EQ(vc.powerBar2->normPower, 0.0f);
    fm::audio::rmsValue.store(13780.6123);  // 1.1 ^ 100
    vc.updateRMS(nullptr);
    EXPECT_NEAR(vc.powerBar->normPower, 1.0f, 1e-5f);
    EXPECT_EQ(vc.powerBar2->normPower, vc.powerBar->normPower);
    fm::audio::rmsValue.store(0.5);
    vc.updateRMS(nullptr);
    EXPECT_LT(vc.powerBar->normPower, 0.0f);
    fm::audio::rmsValue.store(0.0);
    vc.updateRMS(nullptr);
    EXPECT_TRUE(std::isinf(vc.powerBar->normPower) && vc.powerBar->normPower < 0.0f);
}

TEST_F(ScreenTest, DirectionPageFilesTheLevelAtTheYawAndKeepsTheHistoryGoing) {
    fm::screen::ViewController& vc = load();
    swipeLeft();
    motion_->yawValue = 0.0;
    fm::audio::rmsValue.store(30.0);
    vc.updateRMS(nullptr);
    EXPECT_EQ(fm::views::lastTheta, 180);
    EXPECT_DOUBLE_EQ(vc.dsensorView->thetaPointArray[180], 125.0 - (30.0 - 5.0) * 2.0);
    EXPECT_EQ(fm::audio::historyIndex, 1);
    EXPECT_EQ(vc.powerBar->normPower, 0.0f);  // bars are not fed on this page

    motion_->yawValue = 0.5;  // 28.6 degrees: truncated to 28
    fm::audio::rmsValue.store(5.0);
    vc.updateRMS(nullptr);
    EXPECT_EQ(fm::views::lastTheta, 152);
    EXPECT_DOUBLE_EQ(vc.dsensorView->thetaPointArray[152], 125.0);
}

TEST_F(ScreenTest, ColourPageSetsOnlyTheColourLevel) {
    fm::screen::ViewController& vc = load();
    swipeLeft();
    swipeLeft();
    fm::audio::rmsValue.store(127.5);
    vc.updateRMS(nullptr);
    EXPECT_FLOAT_EQ(vc.colorOverlay->normPower, 0.5f);
    EXPECT_EQ(fm::audio::historyIndex, 0);  // the history stands still
    EXPECT_EQ(vc.rmsPower->text(), "127.50");
    fm::audio::rmsValue.store(510.0);
    vc.updateRMS(nullptr);
    EXPECT_FLOAT_EQ(vc.colorOverlay->normPower, 2.0f);  // beyond 1: nothing limits it
    // The waveform data is still refreshed.
    fm::audio::waveformSamples[3].store(-42.9);
    vc.updateRMS(nullptr);
    EXPECT_EQ(vc.waveformGraph->dataPoints[3], 42.0);
}

TEST_F(ScreenTest, MeterTimerRunsTheUpdateEveryTenthOfASecond) {
    fm::screen::ViewController& vc = load();
    fm::audio::rmsValue.store(12.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fm::audio::historyIndex >= 2; }, 5000));
    EXPECT_EQ(vc.rmsPower->text(), "12.00");
}

TEST_F(ScreenTest, SlidersSetGainBaseAndTheStoredValuesWithTheirReadOuts) {
    fm::screen::ViewController& vc = load();
    // A user's move goes through the slider's own position, as a drag does.
    auto drag = [](fm::screen::FloatSlider* s, float value) {
        const float span = s->maximumValue() - s->minimumValue();
        s->QSlider::setValue(
            static_cast<int>(std::lround((value - s->minimumValue()) / span * 1000.0f)));
    };
    drag(vc.sensitivySlider, 2.0f);
    EXPECT_FLOAT_EQ(vc.sensitivySlider->value(), 2.0f);
    EXPECT_FLOAT_EQ(fm::audio::sensitivityGain.load(), 4.0f);
    drag(vc.baseSlider, 30.0f);
    EXPECT_FLOAT_EQ(fm::audio::baseLevel.load(), 30.0f);

    // The read-outs round to whole numbers.
    vc.lowFreqSlider->setMinimumValue(0.0f);
    vc.lowFreqSlider->setValue(12.4f);
    vc.lowFreqSliderValueChanged(vc.lowFreqSlider);
    EXPECT_EQ(vc.lowFreqLabel->text(), "12");
    EXPECT_FLOAT_EQ(fm::audio::lowFreqValue, 12.4f);
    vc.lowFreqSlider->setValue(12.6f);
    vc.lowFreqSliderValueChanged(vc.lowFreqSlider);
    EXPECT_EQ(vc.lowFreqLabel->text(), "13");
    drag(vc.numPassSlider, 7.0f);
    EXPECT_EQ(vc.numPassLabel->text(), "7");
    EXPECT_NEAR(fm::audio::numPassValue, 7.0f, 0.01f);  // one slider step is 0.009
    drag(vc.highFreqSlider, 12345.0f);
    EXPECT_NEAR(fm::audio::highFreqValue, 12345.0f, 20.0f);  // one slider step is 19 Hz
    EXPECT_EQ(vc.highFreqLabel->text(), QString::asprintf("%.0f", fm::audio::highFreqValue));

    // A value set by the program is not a user's move: no action follows.
    vc.sensitivySlider->setValue(3.0f);
    EXPECT_FLOAT_EQ(fm::audio::sensitivityGain.load(), 4.0f);
}

}  // namespace
