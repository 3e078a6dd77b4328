#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "toolkit/AlertView.h"
#include "toolkit/FrameAnimation.h"

using fm::toolkit::AnimationCurve;

TEST(FrameAnimation, EaseInOutCurveIsSlowAtBothEnds) {
    const QEasingCurve curve = fm::toolkit::easingFor(AnimationCurve::EaseInOut);
    EXPECT_NEAR(curve.valueForProgress(0.5), 0.5, 1e-3);
    EXPECT_LT(curve.valueForProgress(0.1), 0.05);
    EXPECT_GT(curve.valueForProgress(0.9), 0.95);
    EXPECT_NEAR(curve.valueForProgress(1.0), 1.0, 1e-9);
    EXPECT_NEAR(fm::toolkit::easingFor(AnimationCurve::Linear).valueForProgress(0.3), 0.3, 1e-9);
}

TEST(FrameAnimation, MovesTheFrameOverTheDuration) {
    QWidget screen;
    screen.resize(320, 480);
    auto* cover = new QWidget(&screen);
    cover->setGeometry(0, 0, 320, 480);
    screen.show();

    QPropertyAnimation* anim = fm::toolkit::animateFrame(cover, QRect(600, 0, 320, 480), 0.3);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->duration(), 300);
    QSignalSpy finished(anim, &QPropertyAnimation::finished);
    // Somewhere on the way before it ends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return cover->x() > 0 || finished.count() > 0; }, 5000));
    ASSERT_TRUE(finished.wait(5000) || finished.count() > 0);
    EXPECT_EQ(cover->geometry(), QRect(600, 0, 320, 480));

    // Again to the same frame: nothing changes; zero duration sets the frame at once.
    QPropertyAnimation* same = fm::toolkit::animateFrame(cover, QRect(600, 0, 320, 480), 0.05);
    QSignalSpy sameDone(same, &QPropertyAnimation::finished);
    ASSERT_TRUE(sameDone.wait(5000) || sameDone.count() > 0);
    EXPECT_EQ(cover->geometry(), QRect(600, 0, 320, 480));
    EXPECT_EQ(fm::toolkit::animateFrame(cover, QRect(1, 2, 3, 4), 0.0), nullptr);
    EXPECT_EQ(cover->geometry(), QRect(1, 2, 3, 4));
}

TEST(FrameAnimation, ANewAnimationReplacesTheRunningOne) {
    QWidget screen;
    auto* box = new QWidget(&screen);
    box->setGeometry(0, 0, 10, 10);
    QPointer<QPropertyAnimation> first =
        fm::toolkit::animateFrame(box, QRect(500, 0, 10, 10), 10.0);
    QPropertyAnimation* second = fm::toolkit::animateFrame(box, QRect(0, 300, 10, 10), 0.05);
    QSignalSpy done(second, &QPropertyAnimation::finished);
    ASSERT_TRUE(done.wait(5000) || done.count() > 0);
    EXPECT_EQ(box->geometry(), QRect(0, 300, 10, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 5000));
}

TEST(AlertView, ShowsWithoutBlockingAndClosesOnItsButton) {
    fm::toolkit::AlertView::clearShownAlerts();
    QWidget screen;
    screen.show();
    fm::toolkit::AlertView alert("Mail", "Your mail could not be sent.", "OK", &screen);
    QPointer<QMessageBox> box = alert.show();  // returns at once
    ASSERT_FALSE(box.isNull());
    ASSERT_EQ(fm::toolkit::AlertView::shownAlerts().size(), 1u);
    EXPECT_EQ(fm::toolkit::AlertView::shownAlerts()[0].title, "Mail");
    EXPECT_EQ(fm::toolkit::AlertView::shownAlerts()[0].message, "Your mail could not be sent.");
    EXPECT_EQ(fm::toolkit::AlertView::shownAlerts()[0].button, "OK");
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->isVisible(); }, 5000));
    EXPECT_EQ(box->text(), "Mail");
    EXPECT_EQ(box->informativeText(), "Your mail could not be sent.");
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().first()->text(), "OK");

    QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }, 5000));  // closed and freed
}
