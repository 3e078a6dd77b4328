#pragma once
// A vertical power bar: fills the lower part of the view in proportion to normPower, from yellow
// at 0 to red at 1. The screen writes normPower, then asks for a redraw.
// From the layout: `new BarGraph(parent)`, geometry, then initWithCoder() (clear background);
// in code: BarGraph::initWithFrame(frame).
#include <QRectF>
#include <QWidget>

#include "views/DisplayRequest.h"
#include "views/DrawingContext.h"

namespace fm::views {

class BarGraph : public QWidget {
    Q_OBJECT

  public:
    explicit BarGraph(QWidget* parent = nullptr);

    static BarGraph* initWithFrame(const QRectF& frame, QWidget* parent = nullptr);
    void initWithCoder();

    void drawRect(fm::views::DrawingContext& context);
    void setNeedsDisplay() { requestDisplay(this); }

    float normPower = 0.0f;  // 0 ... 1 is the designed range; nothing limits it

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace fm::views
