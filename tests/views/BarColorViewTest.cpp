#include <gtest/gtest.h>

#include <memory>

#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/RecordingContext.h"

using fm::views::DrawCall;
using fm::views::DrawOp;
using fm::views::RecordingContext;

namespace {

std::vector<DrawCall> drawBar(float p) {
    std::unique_ptr<fm::views::BarGraph> bar(
        fm::views::BarGraph::initWithFrame(QRectF(0, 0, 20, 200)));
    EXPECT_EQ(bar->normPower, 0.0f);
    bar->normPower = p;
    RecordingContext rec;
    bar->drawRect(rec);
    return rec.calls();
}

}  // namespace

TEST(BarGraph, FillsUpFromTheBottomInProportion) {
    struct Case {
        float p, green, height;
    };
    for (const Case& c :
         {Case{0.0f, 1.0f, -0.0f}, Case{0.5f, 0.5f, -100.0f}, Case{1.0f, 0.0f, -200.0f},
          Case{1.5f, -0.5f, -300.0f}, Case{-0.25f, 1.25f, 50.0f}}) {
        const auto calls = drawBar(c.p);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].op, DrawOp::SetFillColor);
        EXPECT_EQ(calls[0][0], 1.0f);
        EXPECT_EQ(calls[0][1], c.green) << "p " << c.p;
        EXPECT_EQ(calls[0][2], 0.078431375f);
        EXPECT_EQ(calls[0][3], 0.8f);
        EXPECT_EQ(calls[1].op, DrawOp::FillRect);
        EXPECT_EQ(calls[1][0], 0.0f);
        EXPECT_EQ(calls[1][1], 200.0f);
        EXPECT_EQ(calls[1][2], 20.0f);
        EXPECT_EQ(calls[1][3], c.height) << "p " << c.p;
    }
}

TEST(BarGraph, LayoutInitialiserClearsTheBackground) {
    fm::views::BarGraph bar;
    bar.setAutoFillBackground(true);
    bar.initWithCoder();
    EXPECT_FALSE(bar.autoFillBackground());
    EXPECT_EQ(bar.normPower, 0.0f);
}

TEST(ColorView, FloodsTheWholeViewOpaque) {
    std::unique_ptr<fm::views::ColorView> view(
        fm::views::ColorView::initWithFrame(QRectF(5, 5, 320, 480)));
    EXPECT_EQ(view->normPower, 0.0f);
    struct Case {
        float level, r, g, b;
    };
    for (const Case& c : {Case{0.0f, 0, 0, 0}, Case{0.4f, 1, 1, 0}, Case{0.9f, 1, 0, 0},
                          Case{0.65f, 1, 128.0f / 255.0f, 0}, Case{2.0f, 1, 1, 1}}) {
        view->normPower = c.level;
        RecordingContext rec;
        view->drawRect(rec);
        ASSERT_EQ(rec.calls().size(), 2u);
        const DrawCall fill = rec.calls()[0];
        EXPECT_EQ(fill.op, DrawOp::SetFillColor);
        EXPECT_NEAR(fill[0], c.r, 1e-6) << c.level;
        EXPECT_NEAR(fill[1], c.g, 1e-6) << c.level;
        EXPECT_NEAR(fill[2], c.b, 1e-6) << c.level;
        EXPECT_EQ(fill[3], 1.0f);
        const DrawCall rect = rec.calls()[1];
        EXPECT_EQ(rect.op, DrawOp::FillRect);
        EXPECT_EQ(rect[0], 0.0f);
        EXPECT_EQ(rect[1], 0.0f);
        EXPECT_EQ(rect[2], 320.0f);
        EXPECT_EQ(rect[3], 480.0f);
    }
    EXPECT_EQ(view->lerpfloat(0.0f, 255.0f, 2.0f), 510.0f);
}
