#include "views/ColorView.h"

#include <QPainter>

#include "views/ColorRamp.h"
#include "views/PainterContext.h"

namespace fm::views {

ColorView::ColorView(QWidget* parent) : QWidget(parent) {}

ColorView* ColorView::initWithFrame(const QRectF& frame, QWidget* parent) {
    auto* view = new ColorView(parent);
    view->setGeometry(frame.toRect());
    return view;
}

void ColorView::initWithCoder() {}

float ColorView::lerpfloat(float a, float b, float t) const {
    return fm::views::lerpfloat(a, b, t);
}

void ColorView::drawRect(fm::views::DrawingContext& context) {
    const fm::views::Rgb255 c = fm::views::colorViewRamp(normPower);
    context.setFillColor(c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f, 1.0f);
    context.fillRect({0.0f, 0.0f, static_cast<float>(width()), static_cast<float>(height())});
}

void ColorView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    fm::views::PainterContext context(painter);
    drawRect(context);
}

}  // namespace fm::views
