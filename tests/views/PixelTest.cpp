// Renders the views with PainterContext into images at device-pixel ratio 2 (as on the zoomed
// screen) and checks pixels that prove the picture. The images are also saved under the build
// tree (views-pictures/) for a look by eye.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "toolkit/Clock.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"
#include "views/PainterContext.h"

namespace {

template <typename View>
QImage render(View& view, const char* name, QColor background = Qt::transparent) {
    QImage image(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(background);
    {
        QPainter painter(&image);
        fm::views::PainterContext context(painter);
        view.drawRect(context);
    }
    const QString dir = QStringLiteral(FM_BINARY_DIR "/views-pictures");
    QDir().mkpath(dir);
    image.save(dir + "/" + name + ".png");
    return image;
}

// The colour of the device pixel under the point (x, y) in points.
QColor at(const QImage& image, double x, double y) {
    return image.pixelColor(static_cast<int>(std::floor(x * 2)),
                            static_cast<int>(std::floor(y * 2)));
}

void expectNear(const QColor& c, int r, int g, int b, int a, int tolerance, const char* what) {
    EXPECT_NEAR(c.red(), r, tolerance) << what;
    EXPECT_NEAR(c.green(), g, tolerance) << what;
    EXPECT_NEAR(c.blue(), b, tolerance) << what;
    EXPECT_NEAR(c.alpha(), a, tolerance) << what;
}

}  // namespace

TEST(Pixels, HalfFilledBarIsOrangeBelowTheMiddle) {
    std::unique_ptr<fm::views::BarGraph> bar(
        fm::views::BarGraph::initWithFrame(QRectF(0, 0, 40, 100)));
    bar->normPower = 0.5f;
    const QImage image = render(*bar, "bar-half");
    ASSERT_EQ(image.size(), QSize(80, 200));
    expectNear(at(image, 20, 75), 255, 128, 20, 204, 1, "lower half");
    expectNear(at(image, 0, 99.9), 255, 128, 20, 204, 1, "bottom-left corner");
    expectNear(at(image, 20, 25), 0, 0, 0, 0, 0, "upper half empty");
    // The edge lies on the middle in points: device row 99 empty, row 100 filled.
    EXPECT_EQ(image.pixelColor(40, 99).alpha(), 0);
    EXPECT_EQ(image.pixelColor(40, 100).alpha(), 204);

    bar->normPower = 1.7f;  // green below 0 counts as 0: plain red, whole view
    const QImage full = render(*bar, "bar-over");
    expectNear(at(full, 1, 0.2), 255, 0, 20, 204, 1, "over full");
}

TEST(Pixels, ColorViewFloodsTheView) {
    std::unique_ptr<fm::views::ColorView> view(
        fm::views::ColorView::initWithFrame(QRectF(0, 0, 60, 90)));
    view->normPower = 0.4f;
    const QImage yellow = render(*view, "color-yellow");
    for (QPoint p : {QPoint(0, 0), QPoint(119, 179), QPoint(60, 90), QPoint(0, 179)}) {
        EXPECT_EQ(yellow.pixelColor(p), QColor(255, 255, 0)) << p.x() << "," << p.y();
    }
    view->normPower = 0.91f;  // back to orange just past red
    const QImage orange = render(*view, "color-past-red");
    expectNear(orange.pixelColor(10, 10), 255, 133, 10, 255, 1, "past 0.9");
}

TEST(Pixels, InitialRingIsYellowishAtRadius77Points) {
    fm::toolkit::Clock::setNow(1'700'000'000.0);
    fm::views::lastTheta = 0;
    auto view = std::make_unique<fm::views::DirectionSensorView>();
    view->setGeometry(0, 0, 320, 320);
    view->initWithCoder();
    const QImage image = render(*view, "direction-initial");
    // Radius 110 scaled by 0.7; degree 0 points straight up.
    for (auto [x, y] : {std::pair{160.0, 83.0}, {160.0, 237.0}, {83.0, 160.0}, {237.0, 160.0}}) {
        expectNear(at(image, x, y), 193, 193, 80, 255, 2, "ring");
    }
    expectNear(at(image, 160, 120), 0, 0, 0, 0, 0, "inside the ring");
    expectNear(at(image, 160, 20), 0, 0, 0, 0, 0, "outside the rim");
    // The rim: radius 130 * 0.7 = 91 points, olive.
    const QColor rim = at(image, 160, 160 - 91 + 0.1);
    EXPECT_GT(rim.alpha(), 100);
    EXPECT_GT(rim.red(), 100);
    EXPECT_LT(rim.blue(), 60);

    // 10.5 seconds on the ring is at its floor: dark and faint.
    fm::toolkit::Clock::advance(10.5);
    const QImage faded = render(*view, "direction-faded", Qt::black);
    const QColor f = at(faded, 160, 83);
    expectNear(f, static_cast<int>(std::lround(192.7 * 0.09 * 0.09)),
               static_cast<int>(std::lround(192.7 * 0.09 * 0.09)),
               static_cast<int>(std::lround(79.7 * 0.09 * 0.09)), 255, 2, "faded");
    fm::toolkit::Clock::useSystemTime();
}

TEST(Pixels, RingTurnsTheLatestReadingUp) {
    fm::toolkit::Clock::setNow(1'700'000'000.0);
    fm::views::lastTheta = 0;
    auto view = std::make_unique<fm::views::DirectionSensorView>();
    view->setGeometry(0, 0, 320, 320);
    view->initWithCoder();
    view->updatePolarR(125.0, 90);   // degrees 0 ... 90 white at the centre
    view->updatePolarR(0.0, 270);    // degrees 90 ... 270: black at radius 125
    view->updatePolarR(100.0, 271);  // 270, 271: radius 25
    const QImage image = render(*view, "direction-readings", QColor(40, 40, 40));
    // Degree 271 is up now; degrees run clockwise, so 180 (black, radius 125 -> 87.5 points)
    // lies 91 degrees anticlockwise of up, i.e. just below the left.
    const double a = (180.0 - 271.0 - 90.0) * M_PI / 180.0;
    expectNear(at(image, 160 + 87.5 * std::cos(a), 160 + 87.5 * std::sin(a)), 0, 0, 0, 255, 2,
               "black arc");
    // The middle of segment 300 (still the initial ring at 77 points), 29.5 degrees clockwise
    // of up; the seams between the separately stroked segments are antialiased, so not there.
    const double b = (300.5 - 271.0 - 90.0) * M_PI / 180.0;
    expectNear(at(image, 160 + 77 * std::cos(b), 160 + 77 * std::sin(b)), 193, 193, 80, 255, 2,
               "old ring");
    fm::toolkit::Clock::useSystemTime();
    fm::views::lastTheta = 0;
}

TEST(Pixels, GraphLinesSitAboveTheBottomEdge) {
    auto view = std::make_unique<fm::views::GraphView>();
    view->setGeometry(0, 0, 320, 100);
    view->initWithCoder();
    const QImage image = render(*view, "graph-fresh", Qt::black);
    // Yellow 5 points above the bottom (y 95), red log_1.1(5) = 16.886 above (y 83.11),
    // cyan 4 above (y 96).
    expectNear(at(image, 100, 95.0), 220, 220, 20, 255, 30, "yellow");
    const QColor red = at(image, 100, 83.2);
    EXPECT_GT(red.red(), 150);
    EXPECT_LT(red.green(), 40);
    const QColor cyan = at(image, 100, 96.1);
    EXPECT_LT(cyan.red(), 60);
    EXPECT_GT(cyan.green(), 150);
    EXPECT_GT(cyan.blue(), 150);
    expectNear(at(image, 100, 50), 0, 0, 0, 255, 0, "empty middle");
    expectNear(at(image, 0.2, 50), 0, 0, 0, 255, 0, "beat marker off the view");

    view->externalYConversion = 0.5;
    view->logScaleMode = true;
    for (std::size_t j = 0; j < 320; ++j) {
        view->dataPoints[j] = 16000.0 * (1.0 + std::sin(static_cast<double>(j) / 20.0));
    }
    view->beatXPosition = 160.0f;
    render(*view, "graph-waveform", Qt::black);
    const QImage marked = render(*view, "graph-waveform", Qt::black);
    const QColor beat = at(marked, 160.2, 10);
    EXPECT_GT(beat.red(), 150);
    EXPECT_LT(beat.green(), 60);
}

namespace {

// Passes every call on to a PainterContext, but ends the chain of one-segment strokes after each
// stroke (a zero translation does that), so that each segment is stroked alone.
class StrokeByStroke final : public fm::views::DrawingContext {
  public:
    explicit StrokeByStroke(fm::views::DrawingContext& inner) : inner_(inner) {}
    void setLineWidth(float w) override { inner_.setLineWidth(w); }
    void setStrokeColor(float r, float g, float b, float a) override {
        inner_.setStrokeColor(r, g, b, a);
    }
    void setFillColor(float r, float g, float b, float a) override {
        inner_.setFillColor(r, g, b, a);
    }
    void moveToPoint(float x, float y) override { inner_.moveToPoint(x, y); }
    void addLineToPoint(float x, float y) override { inner_.addLineToPoint(x, y); }
    void addEllipseInRect(fm::views::RectF r) override { inner_.addEllipseInRect(r); }
    void strokePath() override {
        inner_.strokePath();
        inner_.translate(0.0f, 0.0f);
    }
    void fillRect(fm::views::RectF r) override { inner_.fillRect(r); }
    void translate(float tx, float ty) override { inner_.translate(tx, ty); }
    void scale(float sx, float sy) override { inner_.scale(sx, sy); }
    void rotate(float radians) override { inner_.rotate(radians); }

  private:
    fm::views::DrawingContext& inner_;
};

QImage renderRing(fm::views::DirectionSensorView& view, double ratio, bool strokeByStroke) {
    QImage image(view.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(40, 60, 80));
    QPainter painter(&image);
    fm::views::PainterContext context(painter);
    if (strokeByStroke) {
        StrokeByStroke each(context);
        view.drawRect(each);
    } else {
        view.drawRect(context);
    }
    return image;
}

}  // namespace

// The ring's segments are blended through a layer put down once (no small blends handed to
// Qt's thread pool); the picture is the one the segments stroked one by one on the image give,
// seams, overlaps and edges included, up to rounding.
TEST(Pixels, RingDrawnAsAWholeMatchesTheSegmentsStrokedOneByOne) {
    constexpr double kStart = 1'700'000'000.0;
    fm::toolkit::Clock::setNow(kStart);
    fm::views::lastTheta = 0;
    auto view = std::make_unique<fm::views::DirectionSensorView>();
    view->setGeometry(0, 0, 320, 320);
    view->initWithCoder();
    // Radius jumps between runs; fresh (opaque), half-faded and faded readings.
    view->updatePolarR(40.0, 60);
    view->updatePolarR(5.0, 95);
    view->updatePolarR(70.0, 140);
    view->updatePolarR(20.0, 200);
    for (int k = 0; k < 360; ++k) {
        if (k % 90 < 30) {
            view->readingTimeArray[k] = kStart - 60.0;  // at the floor
        } else if (k % 90 < 50) {
            view->readingTimeArray[k] = kStart - 4.5;  // alpha 0.49
        }
    }
    for (int k = 250; k < 280; ++k) {
        view->thetaPointArray[k] = 110.0 - (k % 7) * 3.0;  // a jump at every degree
    }
    // The last draw again, after the readings have aged and a few changed: what is drawn where it
    // was drawn before is not rasterised again.
    const auto ageAndFile = [&] {
        fm::toolkit::Clock::advance(3.0);
        view->updatePolarR(60.0, 200);  // the ring does not turn: lastTheta stays
    };
    for (const auto& [ratio, before] :
         {std::pair{1.0, std::function<void()>()}, std::pair{2.0, std::function<void()>()},
          std::pair{2.0, std::function<void()>(ageAndFile)}}) {
        if (before) {
            before();
        }
        const QImage whole = renderRing(*view, ratio, false);
        const QImage each = renderRing(*view, ratio, true);
        ASSERT_EQ(whole.size(), each.size());
        int ringPixels = 0;
        int worst = 0;
        QPoint worstAt;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x) {
                const QRgb p = whole.pixel(x, y);
                const QRgb q = each.pixel(x, y);
                ringPixels += q != qRgb(40, 60, 80) ? 1 : 0;
                const int d =
                    std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
                if (d > worst) {
                    worst = d;
                    worstAt = QPoint(x, y);
                }
            }
        }
        EXPECT_LE(worst, 2) << "ratio " << ratio << " at " << worstAt.x() << "," << worstAt.y();
        EXPECT_GT(ringPixels, 5000 * ratio * ratio);  // the ring was drawn
    }
    fm::toolkit::Clock::useSystemTime();
    fm::views::lastTheta = 0;
}
