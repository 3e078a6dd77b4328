// The drawing context's effects, checked on pixels at device-pixel ratio 2.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <functional>
#include <limits>

#include "views/PainterContext.h"

using fm::views::DrawingContext;
using fm::views::PainterContext;

namespace {

QImage draw(const std::function<void(DrawingContext&)>& steps, QSize points = {100, 100}) {
    QImage image(points * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    {
        PainterContext context(painter);
        steps(context);
    }
    return image;
}

QColor at(const QImage& image, double x, double y) {
    return image.pixelColor(static_cast<int>(std::floor(x * 2)),
                            static_cast<int>(std::floor(y * 2)));
}

}  // namespace

TEST(PainterContext, FreshStateIsAOnePointBlackLine) {
    const QImage image = draw([](DrawingContext& c) {
        c.moveToPoint(10, 50.5);
        c.addLineToPoint(90, 50.5);
        c.strokePath();
    });
    EXPECT_EQ(at(image, 50, 50.2), QColor(0, 0, 0, 255));
    EXPECT_EQ(at(image, 50, 50.8), QColor(0, 0, 0, 255));
    EXPECT_EQ(at(image, 50, 49.9).alpha(), 0);  // one point wide: two device rows
    EXPECT_EQ(at(image, 50, 51.1).alpha(), 0);
    EXPECT_EQ(at(image, 9.9, 50.5).alpha(), 0);  // butt caps end at the points
    EXPECT_EQ(at(image, 90.1, 50.5).alpha(), 0);
}

TEST(PainterContext, ComponentsAreClampedAndNaNCountsAsZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QImage image = draw([nan](DrawingContext& c) {
        c.setFillColor(2.0f, -1.0f, nan, 7.0f);
        c.fillRect({0, 0, 50, 50});
        c.setFillColor(0.0f, 1.5f, 0.0f, -0.5f);  // alpha below 0: invisible
        c.fillRect({50, 0, 50, 50});
    });
    EXPECT_EQ(at(image, 25, 25), QColor(255, 0, 0, 255));
    EXPECT_EQ(at(image, 75, 25).alpha(), 0);
}

TEST(PainterContext, NegativeHeightCoversTheNormalisedRectangle) {
    const QImage image = draw([](DrawingContext& c) {
        c.setFillColor(0, 0, 1, 1);
        c.fillRect({10, 80, 20, -30});  // 10..30 x 50..80
        c.fillRect({90, 10, -20, 10});  // 70..90 x 10..20
    });
    EXPECT_EQ(at(image, 20, 65), QColor(0, 0, 255));
    EXPECT_EQ(at(image, 20, 49.9).alpha(), 0);
    EXPECT_EQ(at(image, 20, 80.1).alpha(), 0);
    EXPECT_EQ(at(image, 80, 15), QColor(0, 0, 255));
}

TEST(PainterContext, TransformsActLastFirstAndPositiveAnglesTurnClockwise) {
    // Translate to the centre, then rotate a quarter turn: +x points down on screen.
    const QImage image = draw([](DrawingContext& c) {
        c.translate(50, 50);
        c.scale(2, 2);
        c.rotate(static_cast<float>(M_PI / 2));
        c.setLineWidth(2);  // 4 points after the scaling
        c.setStrokeColor(0, 1, 0, 1);
        c.moveToPoint(5, 0);
        c.addLineToPoint(20, 0);
        c.strokePath();
    });
    EXPECT_EQ(at(image, 50, 70), QColor(0, 255, 0));  // 10 * 2 below the centre
    // Within the 4-point width (float pi/2 tilts the edge by a hair, hence not exact).
    EXPECT_GE(at(image, 51.5, 70).alpha(), 250);
    EXPECT_EQ(at(image, 52.2, 70).alpha(), 0);
    EXPECT_EQ(at(image, 70, 50).alpha(), 0);  // not to the right
    EXPECT_EQ(at(image, 50, 91).alpha(), 0);  // ends at 20 * 2
}

TEST(PainterContext, StrokeEmptiesThePathAndZeroLengthDrawsNothing) {
    const QImage image = draw([](DrawingContext& c) {
        c.setLineWidth(4);
        c.setStrokeColor(1, 0, 0, 1);
        c.moveToPoint(10, 20);
        c.addLineToPoint(90, 20);
        c.strokePath();
        c.setStrokeColor(0, 0, 1, 1);
        c.moveToPoint(10, 60);
        c.addLineToPoint(90, 60);
        c.moveToPoint(50, 80);
        c.addLineToPoint(50, 80);  // zero length: nothing with butt caps
        c.strokePath();
        c.strokePath();  // an empty path strokes nothing
    });
    EXPECT_EQ(at(image, 50, 20), QColor(255, 0, 0));  // not restroked in blue
    EXPECT_EQ(at(image, 50, 60), QColor(0, 0, 255));
    EXPECT_EQ(at(image, 50, 80).alpha(), 0);
}

TEST(PainterContext, StraightRunsOfSegmentsShowNoSeams) {
    // Translucent, with the joins in the middle of device pixels (x = 10.25, 20.25 ...).
    const QImage image = draw([](DrawingContext& c) {
        c.setLineWidth(4);
        c.setStrokeColor(1, 0, 0, 0.8f);
        for (int k = 0; k < 8; ++k) {
            c.moveToPoint(0.25f + 10.0f * k, 30);
            c.addLineToPoint(10.25f + 10.0f * k, 30);
        }
        // Two segments at an angle keep their own ends.
        c.moveToPoint(10, 70);
        c.addLineToPoint(50, 70);
        c.moveToPoint(50, 70);
        c.addLineToPoint(50, 90);
        c.strokePath();
    });
    const QColor inside = at(image, 15, 30);
    EXPECT_EQ(inside.alpha(), 204);
    for (int k = 1; k < 8; ++k) {
        EXPECT_EQ(at(image, 0.25 + 10.0 * k, 30), inside) << "join " << k;
    }
    EXPECT_EQ(at(image, 80.5, 30).alpha(), 0);
    EXPECT_EQ(at(image, 30, 70).alpha(), 204);
    EXPECT_EQ(at(image, 50, 80).alpha(), 204);
}

TEST(PainterContext, EllipsesAndPolylinesGoThroughTheStroker) {
    const QImage image = draw([](DrawingContext& c) {
        c.setLineWidth(2);
        c.setStrokeColor(1, 1, 1, 1);
        c.addEllipseInRect({10, 10, 80, 80});
        c.moveToPoint(20, 50);
        c.addLineToPoint(40, 50);
        c.addLineToPoint(40, 70);
        c.strokePath();
    });
    EXPECT_EQ(at(image, 50, 10), QColor(Qt::white));  // top of the circle
    EXPECT_EQ(at(image, 89.5, 50), QColor(Qt::white));
    EXPECT_EQ(at(image, 30, 50), QColor(Qt::white));
    EXPECT_EQ(at(image, 40, 60), QColor(Qt::white));
    EXPECT_EQ(at(image, 40.6, 50.6), QColor(Qt::white));  // the mitred corner is filled
    EXPECT_EQ(at(image, 50, 50).alpha(), 0);
}

TEST(PainterContext, TallTranslucentFillsCoverThePixelsQtsOwnFillCovers) {
    // Edges between device rows and columns, translucent and opaque; drawn over a pattern so
    // that the blending shows. The last reaches far past the view, as a bar at a huge level
    // does: only the rows on the image may be worked through.
    const QRectF areas[] = {
        {3.3, 2.7, 40.2, 90.55}, {50.0, 0.0, 20.0, 100.0}, {10.0, -1.0e12, 30.0, 2.0e12}};
    for (const QRectF& area : areas) {
        for (const QColor& color : {QColor(255, 128, 20, 204), QColor(10, 200, 90)}) {
            const auto pattern = [](QImage& image) {
                QPainter p(&image);
                p.fillRect(QRectF(0, 0, 100, 50), QColor(0, 0, 255, 128));
            };
            QImage reference(QSize(100, 100) * 2, QImage::Format_ARGB32_Premultiplied);
            reference.setDevicePixelRatio(2.0);
            reference.fill(Qt::transparent);
            pattern(reference);
            {
                QPainter p(&reference);
                p.setRenderHint(QPainter::Antialiasing, true);
                p.fillRect(area, color);
            }
            QImage image(reference.size(), QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(2.0);
            image.fill(Qt::transparent);
            pattern(image);
            {
                QPainter painter(&image);
                PainterContext context(painter);
                context.setFillColor(color.redF(), color.greenF(), color.blueF(), color.alphaF());
                context.fillRect({static_cast<float>(area.x()), static_cast<float>(area.y()),
                                  static_cast<float>(area.width()),
                                  static_cast<float>(area.height())});
            }
            EXPECT_EQ(image, reference) << area.y() << " " << color.alpha();
        }
    }
}

TEST(PainterContext, AnEndlessTranslucentFillEndsAndCoversWhatQtsOwnFillCovers) {
    const QColor color(255, 128, 20, 204);
    const float endless = std::numeric_limits<float>::infinity();
    QImage reference(QSize(100, 100) * 2, QImage::Format_ARGB32_Premultiplied);
    reference.setDevicePixelRatio(2.0);
    reference.fill(Qt::transparent);
    {
        QPainter p(&reference);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.fillRect(QRectF(10.0, 40.0, 20.0, static_cast<double>(endless)), color);
    }
    const QImage image = draw([&](DrawingContext& c) {
        c.setFillColor(color.redF(), color.greenF(), color.blueF(), color.alphaF());
        c.fillRect({10.0f, 40.0f, 20.0f, endless});
    });
    EXPECT_EQ(image, reference);
}
