#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <memory>
#include <vector>

#include "toolkit/SwipeGestureRecognizer.h"

using fm::toolkit::SwipeGestureRecognizer;

namespace {

// A screen-like widget with a child label and a slider, and the two recognizers the screen
// installs: left, then right, both calling the same action.
class SwipeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view = std::make_unique<QWidget>();
        view->resize(320, 480);
        label = new QLabel("page", view.get());
        label->setGeometry(0, 100, 320, 200);
        slider = new QSlider(Qt::Horizontal, view.get());
        slider->setGeometry(10, 400, 300, 30);
        for (auto dir : {SwipeGestureRecognizer::Left, SwipeGestureRecognizer::Right}) {
            auto* r = new SwipeGestureRecognizer(
                [this](SwipeGestureRecognizer* s) { swipes.push_back(s->direction()); });
            r->setDirection(dir);
            r->addToWidget(view.get());
        }
        view->show();
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    void drag(QWidget* on, QPoint from, QPoint to) {
        QTest::mousePress(on, Qt::LeftButton, {}, from);
        QTest::mouseMove(on, (from + to) / 2);
        QTest::mouseMove(on, to);
        QTest::mouseRelease(on, Qt::LeftButton, {}, to);
    }

    std::unique_ptr<QWidget> view;
    QLabel* label = nullptr;
    QSlider* slider = nullptr;
    std::vector<int> swipes;
};

}  // namespace

TEST_F(SwipeTest, HorizontalDragsReachTheRecognizerOfTheirDirection) {
    drag(label, QPoint(250, 100), QPoint(50, 110));     // leftward, on a child
    drag(view.get(), QPoint(20, 50), QPoint(120, 40));  // rightward, on the view itself
    EXPECT_EQ(swipes, (std::vector<int>{2, 1}));
}

TEST_F(SwipeTest, TouchDragsSwipeToo) {
    const std::unique_ptr<QPointingDevice> screen(QTest::createTouchDevice());
    QTest::touchEvent(view.get(), screen.get()).press(0, QPoint(280, 200));
    QTest::touchEvent(view.get(), screen.get()).move(0, QPoint(180, 205));
    QTest::touchEvent(view.get(), screen.get()).move(0, QPoint(60, 210));
    QTest::touchEvent(view.get(), screen.get()).release(0, QPoint(60, 210));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !swipes.empty(); }, 5000));
    EXPECT_EQ(swipes, (std::vector<int>{2}));
}

TEST_F(SwipeTest, VerticalShortAndSliderDragsReachNothing) {
    drag(label, QPoint(160, 10), QPoint(170, 190));   // vertical
    drag(label, QPoint(160, 100), QPoint(140, 100));  // too short
    drag(label, QPoint(100, 20), QPoint(160, 120));   // more down than across
    drag(slider, QPoint(20, 15), QPoint(280, 15));    // the slider's own drag
    EXPECT_TRUE(swipes.empty());
    EXPECT_GT(slider->value(), slider->minimum());
}

TEST_F(SwipeTest, ArrowKeysSwipeRightArrowIsTheNextPage) {
    QTest::keyClick(view.get(), Qt::Key_Right);
    QTest::keyClick(view.get(), Qt::Key_Right);
    QTest::keyClick(view.get(), Qt::Key_Left);
    QTest::keyClick(view.get(), Qt::Key_Up);
    EXPECT_EQ(swipes, (std::vector<int>{2, 2, 1}));
}
