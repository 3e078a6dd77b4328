#include "views/GraphView.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "views/GraphGeometry.h"
#include "views/PainterContext.h"

namespace fm::views {

double xConversion = 0.0;
double yConversion = 0.0;

namespace {
constexpr float kByte = 255.0f;
constexpr double kTapSlop = 10.0;  // points
}  // namespace

GraphView::GraphView(QWidget* parent) : QWidget(parent) {}

GraphView* GraphView::initWithFrame(const QRectF& frame, QWidget* parent) {
    auto* view = new GraphView(parent);
    view->setGeometry(frame.toRect());
    for (int k = 0; k < kSamples; ++k) {
        view->dataPoints[static_cast<std::size_t>(k)] = k;
    }
    view->dataPoints2.fill(0.0);
    view->beatXPosition = -1.0f;
    view->meanYPosition = -1.0f;
    view->externalYConversion = 0.0;
    view->logScaleMode = false;
    xConversion = view->width() / 320.0;
    return view;
}

void GraphView::initWithCoder() {
    dataPoints.fill(0.0);
    dataPoints2.fill(0.0);
    beatXPosition = -1.0f;
    meanYPosition = -1.0f;
    // Clear background: nothing is painted under the curves.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_NoSystemBackground, true);
    xConversion = width() / 320.0;
    externalYConversion = 1.0;
}

void GraphView::strokeCurve(fm::views::DrawingContext& context,
                            const std::array<double, kSamples>& data, bool logForm, double height) {
    auto point = [&](std::size_t j, bool useLog) {
        const float x = static_cast<float>(static_cast<double>(j) * xConversion);
        const float y = useLog ? fm::views::logGraphY(data[j], yConversion, height)
                               : fm::views::linearGraphY(data[j], yConversion, height);
        return std::pair{x, y};
    };
    for (std::size_t k = 1; k < kSamples; ++k) {
        // The mode is read anew for each segment of the first curve.
        const bool useLog = logForm || logScaleMode;
        const auto [x0, y0] = point(k - 1, useLog);
        const auto [x1, y1] = point(k, useLog);
        context.moveToPoint(x0, y0);
        context.addLineToPoint(x1, y1);
    }
    context.strokePath();
}

void GraphView::drawRect(fm::views::DrawingContext& context) {
    yConversion = externalYConversion;
    const double w = width();
    const double h = height();

    context.setLineWidth(1.2f);
    context.setStrokeColor(220.0f / kByte, 220.0f / kByte, 20.0f / kByte, 1.0f);
    strokeCurve(context, dataPoints, false, h);

    context.setStrokeColor(1.0f, 20.0f / kByte, 20.0f / kByte, 0.8f);
    strokeCurve(context, dataPoints2, true, h);

    // Beat marker: no range test, so -1 lies just left of the view.
    context.setLineWidth(1.0f);
    context.setStrokeColor(1.0f, 20.0f / kByte, 20.0f / kByte, 1.0f);
    const float beatX = static_cast<float>(beatXPosition * xConversion);
    context.moveToPoint(beatX, static_cast<float>(h));
    context.addLineToPoint(beatX, 0.0f);
    context.strokePath();

    // Mean marker: the sum in float, the rest in double.
    context.setLineWidth(0.6f);
    context.setStrokeColor(0.0f, 1.0f, 1.0f, 1.0f);
    const float lifted = meanYPosition + 5.0f;
    const float meanY = static_cast<float>(h - yConversion * lifted);
    context.moveToPoint(0.0f, meanY);
    context.addLineToPoint(static_cast<float>(w), meanY);
    context.strokePath();
}

void GraphView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    fm::views::PainterContext context(painter);
    drawRect(context);
}

void GraphView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    pressPosition_ = event->position();
    event->accept();
}

void GraphView::mouseReleaseEvent(QMouseEvent* event) {
    // Like a button: the tap counts when released over the view, and not when the finger
    // travelled far enough to be a swipe (the swipe takes the touch).
    const bool inside = rect().contains(event->position().toPoint());
    const QPointF travel = event->position() - pressPosition_;
    const bool stayed = std::abs(travel.x()) < kTapSlop && std::abs(travel.y()) < kTapSlop;
    if (pressed_ && event->button() == Qt::LeftButton && inside && stayed) {
        emit tapped();
    }
    pressed_ = false;
    event->accept();
}

}  // namespace fm::views
