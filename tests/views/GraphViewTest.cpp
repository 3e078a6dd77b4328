#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>
#include <memory>

#include "views/GraphView.h"
#include "views/RecordingContext.h"

using fm::views::DrawCall;
using fm::views::DrawOp;
using fm::views::RecordingContext;

namespace {

constexpr float kYellowRG = 220.0f / 255.0f;
constexpr float k20 = 20.0f / 255.0f;

// A view as the layout makes it: plain construction, geometry, then the layout initialiser.
std::unique_ptr<fm::views::GraphView> layoutGraph(int w, int h) {
    auto view = std::make_unique<fm::views::GraphView>();
    view->setGeometry(0, 0, w, h);
    view->initWithCoder();
    return view;
}

struct Segment {
    float x0, y0, x1, y1;
};

// The segments of the curve that starts at call index `first` (a move/line pair each).
std::vector<Segment> segmentsFrom(const RecordingContext& rec, std::size_t first) {
    std::vector<Segment> out;
    const auto& calls = rec.calls();
    for (std::size_t i = first; i + 1 < calls.size() && calls[i].op == DrawOp::MoveToPoint;
         i += 2) {
        EXPECT_EQ(calls[i + 1].op, DrawOp::AddLineToPoint);
        out.push_back({calls[i][0], calls[i][1], calls[i + 1][0], calls[i + 1][1]});
    }
    return out;
}

// Index just after the n-th (0-based) stroke.
std::size_t afterStroke(const RecordingContext& rec, int n) {
    const auto& calls = rec.calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == DrawOp::StrokePath && n-- == 0) {
            return i + 1;
        }
    }
    return calls.size();
}

void expectColor(const DrawCall& c, float r, float g, float b, float a) {
    EXPECT_EQ(c[0], r);
    EXPECT_EQ(c[1], g);
    EXPECT_EQ(c[2], b);
    EXPECT_EQ(c[3], a);
}

}  // namespace

TEST(GraphView, FreshLayoutViewDrawsFlatCurvesAndBothMarkers) {
    auto view = layoutGraph(320, 100);
    EXPECT_EQ(fm::views::xConversion, 1.0);
    EXPECT_EQ(view->externalYConversion, 1.0);
    EXPECT_FALSE(view->logScaleMode);
    EXPECT_EQ(view->beatXPosition, -1.0f);
    EXPECT_EQ(view->meanYPosition, -1.0f);
    EXPECT_FALSE(view->autoFillBackground());

    RecordingContext rec;
    view->drawRect(rec);
    const auto& calls = rec.calls();
    ASSERT_EQ(calls.size(), 2u + 638u + 1u + 1u + 638u + 1u + 5u + 5u) << rec.dump();

    // First curve: width 1.2, yellow, 319 separate segments 5 points above the bottom.
    EXPECT_EQ(calls[0].op, DrawOp::SetLineWidth);
    EXPECT_EQ(calls[0][0], 1.2f);
    expectColor(calls[1], kYellowRG, kYellowRG, k20, 1.0f);
    EXPECT_EQ(calls[1][0], 0.8627451f);
    EXPECT_EQ(calls[1][2], 0.078431375f);
    const auto first = segmentsFrom(rec, 2);
    ASSERT_EQ(first.size(), 319u);
    for (std::size_t k = 1; k <= 319; ++k) {
        const Segment& s = first[k - 1];
        EXPECT_EQ(s.x0, static_cast<float>(k - 1));
        EXPECT_EQ(s.x1, static_cast<float>(k));
        EXPECT_EQ(s.y0, 95.0f);
        EXPECT_EQ(s.y1, 95.0f);
    }
    EXPECT_EQ(calls[640].op, DrawOp::StrokePath);

    // Second curve: same width, translucent red, always log: log_1.1(5) above the bottom.
    expectColor(calls[641], 1.0f, k20, k20, 0.8f);
    const auto second = segmentsFrom(rec, 642);
    ASSERT_EQ(second.size(), 319u);
    for (const Segment& s : second) {
        EXPECT_NEAR(100.0f - s.y0, 16.886f, 1e-3f);
        EXPECT_EQ(s.y0, s.y1);
    }

    // Beat marker: width 1, opaque red, at x = -1 (off the view), bottom to top.
    const std::size_t beat = afterStroke(rec, 1);
    EXPECT_EQ(calls[beat].op, DrawOp::SetLineWidth);
    EXPECT_EQ(calls[beat][0], 1.0f);
    expectColor(calls[beat + 1], 1.0f, k20, k20, 1.0f);
    EXPECT_EQ(calls[beat + 2].op, DrawOp::MoveToPoint);
    EXPECT_EQ(calls[beat + 2][0], -1.0f);
    EXPECT_EQ(calls[beat + 2][1], 100.0f);
    EXPECT_EQ(calls[beat + 3][0], -1.0f);
    EXPECT_EQ(calls[beat + 3][1], 0.0f);
    EXPECT_EQ(calls[beat + 4].op, DrawOp::StrokePath);

    // Mean marker: width 0.6, cyan, 4 points above the bottom, across the view.
    const std::size_t mean = afterStroke(rec, 2);
    EXPECT_EQ(calls[mean][0], 0.6f);
    expectColor(calls[mean + 1], 0.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(calls[mean + 2][0], 0.0f);
    EXPECT_EQ(calls[mean + 2][1], 96.0f);
    EXPECT_EQ(calls[mean + 3][0], 320.0f);
    EXPECT_EQ(calls[mean + 3][1], 96.0f);
    EXPECT_EQ(calls.back().op, DrawOp::StrokePath);
}

TEST(GraphView, LinearAndLogFormsOfTheFirstCurve) {
    auto view = layoutGraph(640, 300);  // xConversion 2
    view->externalYConversion = 2.0;
    for (std::size_t j = 0; j < 320; ++j) {
        view->dataPoints[j] = 0.5 * static_cast<double>(j);
        view->dataPoints2[j] = static_cast<double>(j);
    }
    RecordingContext linear;
    view->drawRect(linear);
    EXPECT_EQ(fm::views::yConversion, 2.0);
    const auto lin = segmentsFrom(linear, 2);
    ASSERT_EQ(lin.size(), 319u);
    for (std::size_t k = 1; k <= 319; ++k) {
        // y = H - (j / 2 + 5) * 2 = 290 - j, exact in float.
        EXPECT_EQ(lin[k - 1].x0, 2.0f * static_cast<float>(k - 1));
        EXPECT_EQ(lin[k - 1].y0, 290.0f - static_cast<float>(k - 1));
        EXPECT_EQ(lin[k - 1].x1, 2.0f * static_cast<float>(k));
        EXPECT_EQ(lin[k - 1].y1, 290.0f - static_cast<float>(k));
    }

    view->logScaleMode = true;
    RecordingContext log;
    view->drawRect(log);
    const auto lg = segmentsFrom(log, 2);
    ASSERT_EQ(lg.size(), 319u);
    for (std::size_t k = 1; k <= 319; ++k) {
        const double s = (0.5 * static_cast<double>(k) + 5.0) * 2.0;
        EXPECT_EQ(lg[k - 1].x1, 2.0f * static_cast<float>(k));
        EXPECT_NEAR(lg[k - 1].y1, 300.0 - std::log(s) / std::log(1.1), 2e-4);
        // Single precision through and through.
        EXPECT_EQ(lg[k - 1].y1, 300.0f - log2f(static_cast<float>(s)) / log2f(1.1f));
    }

    // The second curve is the same whatever the mode says.
    auto secondOf = [](const RecordingContext& rec) {
        return segmentsFrom(rec, afterStroke(rec, 0) + 1);
    };
    const auto secondLinear = secondOf(linear);
    const auto secondLog = secondOf(log);
    ASSERT_EQ(secondLinear.size(), 319u);
    ASSERT_EQ(secondLog.size(), 319u);
    for (std::size_t i = 0; i < 319; ++i) {
        EXPECT_EQ(secondLinear[i].y1, secondLog[i].y1);
        const double s = (static_cast<double>(i + 1) + 5.0) * 2.0;
        EXPECT_NEAR(secondLog[i].y1, 300.0 - std::log(s) / std::log(1.1), 2e-4);
    }
}

TEST(GraphView, LogOfNonPositiveOrNonFiniteValuesLiesOnTheBottomEdge) {
    auto view = layoutGraph(320, 120);
    view->logScaleMode = true;
    view->dataPoints.fill(-5.0);  // s = 0
    view->dataPoints2.fill(-40.0);
    view->dataPoints2[7] = std::numeric_limits<double>::quiet_NaN();
    view->dataPoints2[8] = std::numeric_limits<double>::infinity();
    RecordingContext rec;
    view->drawRect(rec);
    for (const auto& s : segmentsFrom(rec, 2)) {
        EXPECT_EQ(s.y0, 120.0f);
        EXPECT_EQ(s.y1, 120.0f);
    }
    for (const auto& s : segmentsFrom(rec, afterStroke(rec, 0) + 1)) {
        EXPECT_EQ(s.y0, 120.0f);
        EXPECT_EQ(s.y1, 120.0f);
    }
}

TEST(GraphView, MarkersFollowTheirFields) {
    auto view = layoutGraph(640, 100);
    view->externalYConversion = 0.5;
    view->beatXPosition = 319.0f;
    view->meanYPosition = 15.0f;
    RecordingContext rec;
    view->drawRect(rec);
    const auto& calls = rec.calls();
    const std::size_t beat = afterStroke(rec, 1);
    EXPECT_EQ(calls[beat + 2][0], 638.0f);  // one step inside the right edge
    const std::size_t mean = afterStroke(rec, 2);
    EXPECT_EQ(calls[mean + 2][1], 90.0f);  // 100 - 0.5 * 20
    EXPECT_EQ(calls[mean + 3][0], 640.0f);

    view->beatXPosition = 320.0f;
    rec.clear();
    view->drawRect(rec);
    EXPECT_EQ(rec.calls()[afterStroke(rec, 1) + 2][0], 640.0f);  // on the right edge
}

TEST(GraphView, CodeInitialiserAndTheSharedStep) {
    std::unique_ptr<fm::views::GraphView> view(
        fm::views::GraphView::initWithFrame(QRectF(10, 20, 160, 50)));
    EXPECT_EQ(view->geometry(), QRect(10, 20, 160, 50));
    EXPECT_EQ(fm::views::xConversion, 0.5);
    for (std::size_t k = 0; k < 320; ++k) {
        EXPECT_EQ(view->dataPoints[k], static_cast<double>(k));
        EXPECT_EQ(view->dataPoints2[k], 0.0);
    }
    EXPECT_EQ(view->externalYConversion, 0.0);
    EXPECT_FALSE(view->logScaleMode);
    EXPECT_EQ(view->beatXPosition, -1.0f);
    EXPECT_EQ(view->meanYPosition, -1.0f);

    // Factor 0: the ramp lies flat on the bottom edge.
    RecordingContext rec;
    view->drawRect(rec);
    for (const auto& s : segmentsFrom(rec, 2)) {
        EXPECT_EQ(s.y0, 50.0f);
        EXPECT_EQ(s.y1, 50.0f);
    }

    // A second, wider graph made later decides the step for both.
    auto wide = layoutGraph(960, 50);
    EXPECT_EQ(fm::views::xConversion, 3.0);
    rec.clear();
    view->drawRect(rec);
    EXPECT_EQ(segmentsFrom(rec, 2).back().x1, 957.0f);
}

TEST(GraphView, ClickIsATapButADragIsNot) {
    auto view = layoutGraph(320, 100);
    view->show();
    QSignalSpy taps(view.get(), &fm::views::GraphView::tapped);
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_EQ(taps.count(), 1);

    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(20, 50));
    QTest::mouseMove(view.get(), QPoint(200, 52));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(200, 52));
    EXPECT_EQ(taps.count(), 1);

    QTest::mouseClick(view.get(), Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_EQ(taps.count(), 1);
}
