// The window repaints at a meter tick only the views that changed, each within its own
// rectangle, and shows after every tick what a full repaint of the same state shows.
#include <QGraphicsProxyWidget>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>
#include <cstdio>

#include "app/AppDelegate.h"
#include "app/ScreenWindow.h"
#include "screen/ImageButton.h"
#include "tests/screen/ScreenFixture.h"
#include "toolkit/Clock.h"
#include "views/DirectionSensorView.h"

using fm::test::ScreenTest;

namespace {

// Collects the areas of the viewport that are repainted.
class RepaintRecorder : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            area += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
    QRegion area;
};

class WindowRepaintTest : public ScreenTest {
  protected:
    void TearDown() override {
        delegate_.reset();
        fm::toolkit::Clock::useSystemTime();
        ScreenTest::TearDown();
    }

    fm::app::ScreenWindow& launch(double scale, int orientation) {
        fm::instrument::DeviceOptions options;
        options.scale = scale;
        delegate_ = std::make_unique<fm::app::AppDelegate>(options, "fieldmeter");
        delegate_->applicationDidFinishLaunchingWithOptions();
        auto* window = static_cast<fm::app::ScreenWindow*>(delegate_->window());
        window->setInterfaceOrientation(orientation);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        window->viewport()->installEventFilter(&recorder_);
        fm::screen::ViewController& vc = *delegate_->viewController();
        vc.instructionsTapped(nullptr);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return vc.instructionsOverlay->geometry().left() >= 320; }, 3000));
        // The direction ring fades with the time between paints: a repaint of the same state
        // must see the same time.
        fm::toolkit::Clock::setNow(1.8e9);
        settle();
        return *window;
    }

    // Where a point of the screen shows in the viewport.
    QPoint shownAt(fm::app::ScreenWindow& window, QPoint onScreen) const {
        auto* proxy = delegate_->viewController()->graphicsProxyWidget();
        return window.mapFromScene(proxy->mapToScene(QPointF(onScreen) + QPointF(0.5, 0.5)));
    }

    // Delivers what is posted and the painting it causes: the screen's own update request, the
    // scene's pass over it, the window's update request, each posted by the one before.
    static void settle() {
        for (int round = 0; round < 5; ++round) {
            QCoreApplication::sendPostedEvents();
        }
    }

    // One meter tick at this level and waveform height, and the painting it causes.
    void tick(double level, double wave) {
        fm::audio::rmsValue.store(level);
        for (int k = 0; k < fm::audio::kGraphPoints; ++k) {
            fm::audio::waveformSamples[k].store(wave * (k % 9 - 4));
        }
        recorder_.area = QRegion();
        delegate_->viewController()->updateRMS(nullptr);
        settle();
    }

    std::unique_ptr<fm::app::AppDelegate> delegate_;
    RepaintRecorder recorder_;
};

TEST_F(WindowRepaintTest, EachTickRepaintsOnlyTheChangedViewsAndShowsWhatAFullRepaintShows) {
    for (const auto& [scale, orientation] : {std::pair{2.0, 1}, std::pair{1.5, 3}}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale << ", orientation " << orientation);
        fm::app::ScreenWindow& window = launch(scale, orientation);
        fm::screen::ViewController& vc = *delegate_->viewController();
        const QPoint history = shownAt(window, {160, 136});
        const QPoint bar = shownAt(window, {19, 250});
        const QPoint besideBar = shownAt(window, {32, 240});  // between the bar and the read-out
        const QPoint slider = shownAt(window, {150, 412});
        std::uint64_t painted[3] = {};
        int ticks[3] = {};
        for (int i = 0; i < 20; ++i) {
            const int page = i * 3 / 20;  // bars, direction, colour
            if (i > 0 && page != (i - 1) * 3 / 20) {
                for (auto* swipe : vc.swipeRecognizers()) {
                    if (swipe->direction() == fm::toolkit::SwipeGestureRecognizer::Left) {
                        vc.handleViewsSwipe(swipe);
                    }
                }
                settle();
            }
            // Every other tick repeats the level of the one before; the waveform always moves.
            const bool sameLevel = i % 2 == 1;
            const std::uint64_t before = window.paintedPixels();
            tick(40.0 + 7 * (i / 2), 100.0 + i);
            painted[page] += window.paintedPixels() - before;
            ++ticks[page];
            const QRegion repainted = recorder_.area;  // before the grabs repaint it all
            SCOPED_TRACE(testing::Message() << "tick " << i);
            const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
            const QImage full = window.grab().toImage();
            ASSERT_EQ(shown.convertToFormat(QImage::Format_RGB32),
                      full.convertToFormat(QImage::Format_RGB32));
            if (page == 0) {
                EXPECT_TRUE(repainted.contains(history));
                EXPECT_FALSE(repainted.contains(besideBar));
                EXPECT_EQ(repainted.contains(bar), !sameLevel);
            }
            if (page != 2) {  // the colour page is one view over the whole screen
                EXPECT_FALSE(repainted.contains(slider));
            }
        }
        std::printf(
            "device pixels repainted per tick at scale %.1f: bars %llu, direction %llu, "
            "colour %llu\n",
            scale, static_cast<unsigned long long>(painted[0] / ticks[0]),
            static_cast<unsigned long long>(painted[1] / ticks[1]),
            static_cast<unsigned long long>(painted[2] / ticks[2]));
        delegate_.reset();
    }
}

}  // namespace
