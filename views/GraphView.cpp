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
    // Each sample is placed once and shared by the two segments that meet at it.
    const bool useLog = logForm || logScaleMode;
    std::array<float, kSamples> ys;
    for (std::size_t j = 0; j < kSamples; ++j) {
        ys[j] = useLog ? fm::views::logGraphY(data[j], yConversion, height)
                       : fm::views::linearGraphY(data[j], yConversion, height);
    }
    auto x = [](std::size_t j) { return static_cast<float>(static_cast<double>(j) * xConversion); };
    for (std::size_t k = 1; k < kSamples; ++k) {
        context.moveToPoint(x(k - 1), ys[k - 1]);
        context.addLineToPoint(x(k), ys[k]);
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
