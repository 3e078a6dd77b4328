#pragma once
// Floods the whole view with one colour picked by normPower from the colour ramp (black, blue,
// yellow, orange, red, then orange again up to white). The screen writes normPower, then asks
// for a redraw.
// From the layout: `new ColorView(parent)`, geometry, then initWithCoder() (which adds
// nothing); in code: ColorView::initWithFrame(frame).
#include <QRectF>
#include <QWidget>

#include "views/DisplayRequest.h"
#include "views/DrawingContext.h"

namespace fm::views {

class ColorView : public QWidget {
    Q_OBJECT

  public:
    explicit ColorView(QWidget* parent = nullptr);

    static ColorView* initWithFrame(const QRectF& frame, QWidget* parent = nullptr);
    void initWithCoder();

    // a + (b - a) * t in single precision, t not clamped.
    float lerpfloat(float a, float b, float t) const;

    void drawRect(fm::views::DrawingContext& context);
    void setNeedsDisplay() { requestDisplay(this); }

    float normPower = 0.0f;  // 0.032 ... 1.15 spans the ramp

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace fm::views
