#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "toolkit/Clock.h"
#include "views/ColorRamp.h"
#include "views/DirectionSensorView.h"
#include "views/RecordingContext.h"

using fm::toolkit::Clock;
using fm::views::DrawCall;
using fm::views::DrawOp;
using fm::views::RecordingContext;

namespace {

constexpr double kStart = 1'700'000'000.0;
constexpr double kDeg = 0.0174532925;

class DirectionSensorViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Clock::setNow(kStart);
        fm::views::lastTheta = 0;
    }
    void TearDown() override {
        Clock::useSystemTime();
        fm::views::lastTheta = 0;
    }

    static std::unique_ptr<fm::views::DirectionSensorView> layoutView() {
        auto view = std::make_unique<fm::views::DirectionSensorView>();
        view->setGeometry(0, 0, 300, 260);
        view->initWithCoder();
        return view;
    }

    // The colour call of ring segment k (4 calls per segment after the 4 set-up calls).
    static DrawCall segmentColor(const RecordingContext& rec, int k) {
        return rec.calls()[4 + 4 * static_cast<std::size_t>(k)];
    }
};

}  // namespace

TEST_F(DirectionSensorViewTest, LayoutViewStartsAsAFullFreshRing) {
    auto view = layoutView();
    for (int k = 0; k < 360; ++k) {
        EXPECT_EQ(view->thetaPointArray[k], 110.0);
        ASSERT_TRUE(view->readingTimeArray[k].has_value());
        EXPECT_EQ(*view->readingTimeArray[k], kStart);
    }

    fm::views::lastTheta = 30;
    RecordingContext rec;
    view->drawRect(rec);
    const auto& calls = rec.calls();
    ASSERT_EQ(calls.size(), 4u + 359u * 4u + 8u) << rec.dump();
    EXPECT_EQ(calls[0].op, DrawOp::Translate);
    EXPECT_EQ(calls[0][0], 150.0f);
    EXPECT_EQ(calls[0][1], 130.0f);
    EXPECT_EQ(calls[1].op, DrawOp::Scale);
    EXPECT_EQ(calls[1][0], 0.7f);
    EXPECT_EQ(calls[1][1], 0.7f);
    EXPECT_EQ(calls[2].op, DrawOp::Rotate);
    EXPECT_EQ(calls[2][0], static_cast<float>(-120 * kDeg));
    EXPECT_EQ(calls[3].op, DrawOp::SetLineWidth);
    EXPECT_EQ(calls[3][0], 15.0f);

    // 359 strokes, one per degree pair, none from 359 back to 0; fresh readings at full alpha.
    const fm::views::Rgb255 c = fm::views::directionRamp(0.12f);
    for (int k = 0; k < 359; ++k) {
        const std::size_t i = 4 + 4 * static_cast<std::size_t>(k);
        ASSERT_EQ(calls[i].op, DrawOp::SetStrokeColor);
        EXPECT_EQ(calls[i][3], 1.0f);
        EXPECT_NEAR(calls[i][0] * 255.0f, 192.7, 0.1);
        EXPECT_NEAR(calls[i][2] * 255.0f, 79.7, 0.1);
        EXPECT_EQ(calls[i][1], c.green / 255.0f);
        ASSERT_EQ(calls[i + 1].op, DrawOp::MoveToPoint);
        EXPECT_NEAR(calls[i + 1][0], 110.0 * std::cos(k * kDeg), 1e-4);
        EXPECT_NEAR(calls[i + 1][1], 110.0 * std::sin(k * kDeg), 1e-4);
        ASSERT_EQ(calls[i + 2].op, DrawOp::AddLineToPoint);
        EXPECT_NEAR(calls[i + 2][0], 110.0 * std::cos((k + 1) * kDeg), 1e-4);
        EXPECT_NEAR(calls[i + 2][1], 110.0 * std::sin((k + 1) * kDeg), 1e-4);
        EXPECT_EQ(calls[i + 3].op, DrawOp::StrokePath);
    }
    EXPECT_EQ(calls[4 + 4 * 358 + 2][0], static_cast<float>(110.0 * std::cos(359 * kDeg)));

    // Pointer and rim: a V from 125 at +-10 degrees about lastTheta to the centre, and the circle
    // of radius 130, stroked together.
    const std::size_t p = 4 + 4 * 359;
    EXPECT_EQ(calls[p][0], 1.2f);
    EXPECT_EQ(calls[p + 1].op, DrawOp::SetStrokeColor);
    EXPECT_EQ(calls[p + 1][0], 0.47058824f);
    EXPECT_EQ(calls[p + 1][1], 0.47058824f);
    EXPECT_EQ(calls[p + 1][2], 0.078431375f);
    EXPECT_EQ(calls[p + 1][3], 1.0f);
    EXPECT_NEAR(calls[p + 2][0], 125.0 * std::cos(40 * kDeg), 1e-4);
    EXPECT_NEAR(calls[p + 2][1], 125.0 * std::sin(40 * kDeg), 1e-4);
    EXPECT_EQ(calls[p + 3].op, DrawOp::AddLineToPoint);
    EXPECT_EQ(calls[p + 3][0], 0.0f);
    EXPECT_EQ(calls[p + 3][1], 0.0f);
    EXPECT_NEAR(calls[p + 4][0], 125.0 * std::cos(20 * kDeg), 1e-4);
    EXPECT_NEAR(calls[p + 4][1], 125.0 * std::sin(20 * kDeg), 1e-4);
    EXPECT_EQ(calls[p + 5][0], 0.0f);
    EXPECT_EQ(calls[p + 6].op, DrawOp::AddEllipseInRect);
    EXPECT_EQ(calls[p + 6][0], -130.0f);
    EXPECT_EQ(calls[p + 6][1], -130.0f);
    EXPECT_EQ(calls[p + 6][2], 260.0f);
    EXPECT_EQ(calls[p + 6][3], 260.0f);
    EXPECT_EQ(calls[p + 7].op, DrawOp::StrokePath);
}

TEST_F(DirectionSensorViewTest, ReadingsFadeWithAge) {
    auto view = layoutView();
    view->readingTimeArray[1] = kStart - 7.5;   // (−7.5 + 15) / 15 = 0.5
    view->readingTimeArray[2] = kStart - 10.5;  // 0.3: the floor
    view->readingTimeArray[3] = kStart - 60.0;  // far below the floor
    view->readingTimeArray[4].reset();          // no time: age 0
    RecordingContext rec;
    view->drawRect(rec);
    EXPECT_EQ(segmentColor(rec, 0)[3], 1.0f);
    EXPECT_EQ(segmentColor(rec, 1)[3], 0.25f);
    EXPECT_NEAR(segmentColor(rec, 2)[3], 0.09f, 1e-6);
    EXPECT_EQ(segmentColor(rec, 3)[3], 0.3f * 0.3f);
    EXPECT_EQ(segmentColor(rec, 4)[3], 1.0f);
    // Darker as well as more transparent: the channels carry the alpha.
    EXPECT_FLOAT_EQ(segmentColor(rec, 1)[0], segmentColor(rec, 0)[0] * 0.25f);

    // The whole ring fades as the clock moves on.
    Clock::advance(7.5);
    rec.clear();
    view->drawRect(rec);
    EXPECT_EQ(segmentColor(rec, 0)[3], 0.25f);
    EXPECT_EQ(segmentColor(rec, 200)[3], 0.25f);
}

TEST_F(DirectionSensorViewTest, FilingPaintsTheArcWithRadiusAndTime) {
    auto view = layoutView();
    Clock::setNow(kStart + 3.0);
    view->updatePolarR(0.0, 180);  // first filing: 0 ... 180
    EXPECT_EQ(fm::views::lastTheta, 180);
    for (int k = 0; k < 360; ++k) {
        const bool written = k <= 180;
        EXPECT_EQ(view->thetaPointArray[k], written ? 125.0 : 110.0) << k;
        EXPECT_EQ(*view->readingTimeArray[k], written ? kStart + 3.0 : kStart) << k;
    }

    view->updatePolarR(100.0, 190);  // 180 ... 190 at radius 25
    EXPECT_EQ(view->thetaPointArray[179], 125.0);
    EXPECT_EQ(view->thetaPointArray[180], 25.0);
    EXPECT_EQ(view->thetaPointArray[190], 25.0);
    EXPECT_EQ(view->thetaPointArray[191], 110.0);

    view->updatePolarR(500.0, 190);
    EXPECT_EQ(view->thetaPointArray[190], 0.0);
    view->updatePolarR(std::nan(""), 191);
    EXPECT_EQ(view->thetaPointArray[191], 0.0);
    view->updatePolarR(-20.0, 192);
    EXPECT_EQ(view->thetaPointArray[192], 145.0);
}

TEST_F(DirectionSensorViewTest, ThetaOutsideTheRingWrapsAround) {
    auto view = layoutView();
    fm::views::lastTheta = 350;
    view->updatePolarR(25.0, 365);  // 5: d = -345, across the seam
    EXPECT_EQ(fm::views::lastTheta, 5);
    for (int k : {0, 5, 350, 359}) {
        EXPECT_EQ(view->thetaPointArray[k], 100.0) << k;
    }
    EXPECT_EQ(view->thetaPointArray[6], 110.0);
    EXPECT_EQ(view->thetaPointArray[349], 110.0);

    view->updatePolarR(25.0, -10);  // 350
    EXPECT_EQ(fm::views::lastTheta, 350);
}

TEST_F(DirectionSensorViewTest, ReadingColoursFollowTheRamp) {
    auto view = layoutView();
    view->updatePolarR(100.0, 0);      // radius 25: bandLevel 0.8, between red and white
    view->thetaPointArray[1] = 125.0;  // r = 0: black
    view->thetaPointArray[2] = 0.0;    // r >= 125: white, at the centre
    RecordingContext rec;
    view->drawRect(rec);
    EXPECT_NEAR(segmentColor(rec, 0)[0] * 255.0f, 255.0, 1e-3);
    EXPECT_NEAR(segmentColor(rec, 0)[1] * 255.0f, 153.0, 1e-3);
    EXPECT_NEAR(segmentColor(rec, 0)[2] * 255.0f, 153.0, 1e-3);
    EXPECT_EQ(segmentColor(rec, 1)[0], 0.0f);
    EXPECT_EQ(segmentColor(rec, 1)[3], 1.0f);
    EXPECT_EQ(segmentColor(rec, 2)[0], 1.0f);
    EXPECT_EQ(segmentColor(rec, 2)[2], 1.0f);
}

TEST_F(DirectionSensorViewTest, CodeViewShowsOnlyPointerAndRim) {
    std::unique_ptr<fm::views::DirectionSensorView> view(
        fm::views::DirectionSensorView::initWithFrame(QRectF(0, 0, 200, 200)));
    for (int k = 0; k < 360; ++k) {
        EXPECT_EQ(view->thetaPointArray[k], 0.0);
        EXPECT_FALSE(view->readingTimeArray[k].has_value());
    }
    RecordingContext rec;
    view->drawRect(rec);
    for (int k = 0; k < 359; ++k) {
        const std::size_t i = 4 + 4 * static_cast<std::size_t>(k);
        EXPECT_EQ(rec.calls()[i][3], 1.0f);
        EXPECT_EQ(rec.calls()[i + 1][0], 0.0f);
        EXPECT_EQ(rec.calls()[i + 1][1], 0.0f);
        EXPECT_EQ(rec.calls()[i + 2][0], 0.0f);
    }
    EXPECT_EQ(view->lerpfloat(0.0f, 255.0f, 2.0f), 510.0f);
}
