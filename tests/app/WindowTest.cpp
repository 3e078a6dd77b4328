// The screen in the window the program builds for a display, clicked as a user clicks it.
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/AppDelegate.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "tests/screen/ScreenFixture.h"
#include "toolkit/Images.h"
#include "views/GraphView.h"

using fm::test::ScreenTest;

namespace {

class WindowTest : public ScreenTest {
  protected:
    // The window as the program makes it for a display, zoomed by `scale`.
    fm::screen::ViewController& launch(double scale) {
        fm::instrument::DeviceOptions options;
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

// The about page scrolls with the keys, the arrows turn pages once it is closed, the window
// and its alerts carry the program's icon, and Ctrl+Q closes the window.
TEST_F(WindowTest, KeysScrollTheAboutPageTheIconIsTheProgramsAndCtrlQCloses) {
    QApplication::setWindowIcon(QIcon());
    fm::screen::ViewController& vc = launch(1.0);
    QTest::keyClick(view_, Qt::Key_I);
    const QScrollBar* bar = vc.aboutInstructions->verticalScrollBar();
    const int step = bar->singleStep(), page = bar->pageStep(), end = bar->maximum();
    ASSERT_GT(end, page + step);
    const Qt::Key keys[] = {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Up,
                            Qt::Key_End,  Qt::Key_PageUp,   Qt::Key_Home};
    const int values[] = {step, step + page, page, end, end - page, 0};
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(view_, keys[i]);
        EXPECT_EQ(bar->value(), values[i]) << keys[i];
    }
    QTest::keyClick(view_, Qt::Key_Escape);
    QTest::keyClick(view_, Qt::Key_Right);
    EXPECT_EQ(vc.overlayMode, fm::screen::ViewController::kDirectionPage);
    const QImage icon = fm::toolkit::imageNamed("fieldmeter.png").toImage();
    QTest::keyClick(view_, Qt::Key_M);  // nothing recorded: an alert
    QWidget* alert = vc.findChild<QWidget*>("qt_msgbox_label")->window();  // as every window
    EXPECT_EQ(alert->windowIcon().pixmap(icon.size()).toImage().convertToFormat(icon.format()),
              icon);
    QTest::keyClick(view_, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(view_->isVisible());
}

}  // namespace
