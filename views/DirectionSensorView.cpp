#include "views/DirectionSensorView.h"

#include <QPainter>
#include <cmath>

#include "toolkit/Clock.h"
#include "views/ArcFiling.h"
#include "views/ColorRamp.h"
#include "views/PainterContext.h"

namespace fm::views {

int32_t lastTheta = 0;

namespace {

constexpr double kRadiansPerDegree = 0.0174532925;

double secondsSinceNow(const std::optional<double>& time) {
    return time ? fm::toolkit::Clock::timeIntervalSinceNow(*time) : 0.0;
}

}  // namespace

DirectionSensorView::DirectionSensorView(QWidget* parent) : QWidget(parent) {}

DirectionSensorView* DirectionSensorView::initWithFrame(const QRectF& frame, QWidget* parent) {
    auto* view = new DirectionSensorView(parent);
    view->setGeometry(frame.toRect());
    return view;
}

void DirectionSensorView::initWithCoder() {
    for (auto& time : readingTimeArray) {
        time = fm::toolkit::Clock::now();
    }
    thetaPointArray.fill(110.0);
}

void DirectionSensorView::updatePolarR(double r, int theta) {
    const double now = fm::toolkit::Clock::now();
    const double radius = fm::views::storedRadius(r);
    const int32_t to = fm::views::wrapDegree(theta);
    const fm::views::ArcToFile arc = fm::views::arcToFile(lastTheta, to);
    for (int i = 0; i < arc.count; ++i) {
        const fm::views::DegreeRange range = arc.ranges[static_cast<std::size_t>(i)];
        for (int k = range.first; k <= range.last; ++k) {
            thetaPointArray[static_cast<std::size_t>(k)] = radius;
            readingTimeArray[static_cast<std::size_t>(k)] = now;
        }
    }
    lastTheta = to;
}

float DirectionSensorView::lerpfloat(float a, float b, float t) const {
    return fm::views::lerpfloat(a, b, t);
}

void DirectionSensorView::drawRect(fm::views::DrawingContext& context) {
    const QRect b = rect();
    context.translate(static_cast<float>(b.x()) + static_cast<float>(b.width()) * 0.5f,
                      static_cast<float>(b.y()) + static_cast<float>(b.height()) * 0.5f);
    context.scale(0.7f, 0.7f);
    // Puts degree lastTheta straight up; degrees then run clockwise on screen.
    context.rotate(static_cast<float>((-90 - lastTheta) * kRadiansPerDegree));
    context.setLineWidth(15.0f);

    // Each segment is stroked alone so that it keeps its own colour. The cos/sin of the next
    // degree is carried over to the following segment.
    double radius0 = thetaPointArray[0];
    double cos0 = std::cos(0.0);
    double sin0 = std::sin(0.0);
    for (std::size_t k = 0; k + 1 < kDegrees; ++k) {
        float ageFade = static_cast<float>((secondsSinceNow(readingTimeArray[k]) + 15.0) / 15.0);
        if (!(ageFade > 0.3f)) {
            ageFade = 0.3f;
        }
        const float a = ageFade * ageFade;
        const float bandLevel = (125.0f - static_cast<float>(thetaPointArray[k])) / 125.0f;
        const fm::views::Rgb255 c = fm::views::directionRamp(bandLevel);
        context.setStrokeColor(c.red * a / 255.0f, c.green * a / 255.0f, c.blue * a / 255.0f, a);

        const double radius1 = thetaPointArray[k + 1];
        const double angle1 = static_cast<double>(k + 1) * kRadiansPerDegree;
        const double cos1 = std::cos(angle1);
        const double sin1 = std::sin(angle1);
        context.moveToPoint(static_cast<float>(radius0 * cos0), static_cast<float>(radius0 * sin0));
        context.addLineToPoint(static_cast<float>(radius1 * cos1),
                               static_cast<float>(radius1 * sin1));
        context.strokePath();
        radius0 = radius1;
        cos0 = cos1;
        sin0 = sin1;
    }

    context.setLineWidth(1.2f);
    context.setStrokeColor(120.0f / 255.0f, 120.0f / 255.0f, 20.0f / 255.0f, 1.0f);
    const double left = (lastTheta + 10) * kRadiansPerDegree;
    const double right = (lastTheta - 10) * kRadiansPerDegree;
    context.moveToPoint(static_cast<float>(125.0 * std::cos(left)),
                        static_cast<float>(125.0 * std::sin(left)));
    context.addLineToPoint(0.0f, 0.0f);
    context.moveToPoint(static_cast<float>(125.0 * std::cos(right)),
                        static_cast<float>(125.0 * std::sin(right)));
    context.addLineToPoint(0.0f, 0.0f);
    context.addEllipseInRect({-130.0f, -130.0f, 260.0f, 260.0f});
    context.strokePath();
}

void DirectionSensorView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    fm::views::PainterContext context(painter);
    drawRect(context);
}

}  // namespace fm::views
