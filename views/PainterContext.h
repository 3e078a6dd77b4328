#pragma once
// DrawingContext on an antialiased QPainter: the back end of every view's paintEvent, and what
// the pixel tests and benchmarks render into a QImage with.
// The constructor puts the painter in the fresh state every draw starts from (identity
// transform on top of the painter's own, line width 1, black stroke and fill, antialiasing).
#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include "views/DrawingContext.h"

namespace fm::views {

class PainterContext final : public DrawingContext {
  public:
    explicit PainterContext(QPainter& painter);
    ~PainterContext() override;
    PainterContext(const PainterContext&) = delete;
    PainterContext& operator=(const PainterContext&) = delete;

    void setLineWidth(float width) override;
    void setStrokeColor(float red, float green, float blue, float alpha) override;
    void setFillColor(float red, float green, float blue, float alpha) override;
    void moveToPoint(float x, float y) override;
    void addLineToPoint(float x, float y) override;
    void addEllipseInRect(RectF rect) override;
    void strokePath() override;
    void fillRect(RectF rect) override;
    void translate(float tx, float ty) override;
    void scale(float sx, float sy) override;
    void rotate(float radians) override;

  private:
    QPainter& painter_;
    QPen pen_;
    QColor fill_;
    QPainterPath path_;
};

}  // namespace fm::views
