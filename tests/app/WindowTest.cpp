// The screen in the window the program builds for a display, clicked as a user clicks it.
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QTest>

#include "app/AppDelegate.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "tests/screen/ScreenFixture.h"
#include "views/GraphView.h"

using fm::test::ScreenTest;

namespace {

class WindowTest : public ScreenTest {
  protected:
    // The window as the program makes it for a display, zoomed by `scale`.
    fm::screen::ViewController& launch(double scale) {
        fm::platform::DeviceOptions options;
        options.scale = scale;
        delegate_ = std::make_unique<fm::app::AppDelegate>(options, "fieldmeter");
        delegate_->applicationDidFinishLaunchingWithOptions();
        view_ = qobject_cast<QGraphicsView*>(delegate_->window());
        EXPECT_NE(view_, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view_));
        return *delegate_->viewController();
    }

    void TearDown() override {
        delegate_.reset();
        ScreenTest::TearDown();
    }

    // Where a point of a screen widget lies in the window's viewport.
    QPoint inWindow(QWidget* w, QPoint at) const {
        auto* proxy = delegate_->viewController()->graphicsProxyWidget();
        const QPoint onScreen = w->mapTo(delegate_->viewController(), at);
        return view_->mapFromScene(proxy->mapToScene(QPointF(onScreen)));
    }

    void click(QWidget* w, QPoint at) {
        QTest::mouseClick(view_->viewport(), Qt::LeftButton, Qt::NoModifier, inWindow(w, at));
    }

    std::unique_ptr<fm::app::AppDelegate> delegate_;
    QGraphicsView* view_ = nullptr;
};

TEST_F(WindowTest, ClicksOnTheCaptionAndOnTheGraphSwitchWaveformAndSpectrum) {
    for (double scale : {1.0, 2.0}) {
        fm::screen::ViewController& vc = launch(scale);
        SCOPED_TRACE(scale);
        // The cover lies over everything until it is tapped away.
        click(vc.instructionsOverlay, vc.instructionsOverlay->rect().center());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return vc.instructionsOverlay->geometry().left() >= 320; }, 3000));

        const bool before = fm::audio::showWaveform.load();
        click(vc.waveformTextImage, vc.waveformTextImage->rect().center());
        EXPECT_EQ(fm::audio::showWaveform.load(), !before);
        EXPECT_EQ(vc.waveformTextImage->imageName().toStdString(),
                  before ? "spectrumtext.png" : "waveformtext.png");
        // Beside the caption, the graph itself takes the tap.
        click(vc.waveformGraph, QPoint(200, 60));
        EXPECT_EQ(fm::audio::showWaveform.load(), before);
        EXPECT_EQ(vc.waveformTextImage->imageName().toStdString(),
                  before ? "waveformtext.png" : "spectrumtext.png");
        delegate_.reset();
    }
}

}  // namespace
