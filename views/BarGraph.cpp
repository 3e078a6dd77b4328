#include "views/BarGraph.h"

#include <QPainter>

#include "views/PainterContext.h"

namespace fm::views {

BarGraph::BarGraph(QWidget* parent) : QWidget(parent) {}

BarGraph* BarGraph::initWithFrame(const QRectF& frame, QWidget* parent) {
    auto* view = new BarGraph(parent);
    view->setGeometry(frame.toRect());
    view->normPower = 0.0f;
    return view;
}

void BarGraph::initWithCoder() {
    setAutoFillBackground(false);
    setAttribute(Qt::WA_NoSystemBackground, true);
}

void BarGraph::drawRect(fm::views::DrawingContext& context) {
    const float w = static_cast<float>(width());
    const float h = static_cast<float>(height());
    const float p = normPower;
    // Green below 0 (p above 1) is clamped by the context: the bar turns plain red.
    context.setFillColor(1.0f, 1.0f - p, 20.0f / 255.0f, 0.8f);
    // Grows upward from the bottom edge: a negative height.
    context.fillRect({0.0f, h, w, -(h * p)});
}

void BarGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    fm::views::PainterContext context(painter);
    drawRect(context);
}

}  // namespace fm::views
