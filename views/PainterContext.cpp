#include "views/PainterContext.h"

#include <QtMath>

namespace fm::views {
namespace {

QColor clampedColor(float r, float g, float b, float a) {
    return QColor::fromRgbF(clampedComponent(r), clampedComponent(g), clampedComponent(b),
                            clampedComponent(a));
}

}  // namespace

PainterContext::PainterContext(QPainter& painter)
    : painter_(painter), pen_(Qt::black), fill_(Qt::black) {
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, true);
    pen_.setWidthF(1.0);
    pen_.setCapStyle(Qt::FlatCap);
    pen_.setJoinStyle(Qt::MiterJoin);
    pen_.setMiterLimit(10.0);  // the classic PostScript default, not Qt's 2
    pen_.setCosmetic(false);   // the width scales with the transform
    painter_.setBrush(Qt::NoBrush);
}

PainterContext::~PainterContext() {
    painter_.restore();
}

void PainterContext::setLineWidth(float width) {
    pen_.setWidthF(width);
}

void PainterContext::setStrokeColor(float red, float green, float blue, float alpha) {
    pen_.setColor(clampedColor(red, green, blue, alpha));
}

void PainterContext::setFillColor(float red, float green, float blue, float alpha) {
    fill_ = clampedColor(red, green, blue, alpha);
}

void PainterContext::moveToPoint(float x, float y) {
    path_.moveTo(x, y);
}

void PainterContext::addLineToPoint(float x, float y) {
    path_.lineTo(x, y);
}

void PainterContext::addEllipseInRect(RectF r) {
    path_.addEllipse(r.x, r.y, r.width, r.height);
}

void PainterContext::strokePath() {
    // One stroke of the whole path, so overlaps of its subpaths blend once.
    painter_.strokePath(path_, pen_);
    path_.clear();  // keeps its storage for the next path
}

void PainterContext::fillRect(RectF rect) {
    const RectF r = normalizedRect(rect);
    painter_.fillRect(QRectF(r.x, r.y, r.width, r.height), fill_);
}

void PainterContext::translate(float tx, float ty) {
    painter_.translate(tx, ty);
}

void PainterContext::scale(float sx, float sy) {
    painter_.scale(sx, sy);
}

void PainterContext::rotate(float radians) {
    painter_.rotate(qRadiansToDegrees(double{radians}));
}

}  // namespace fm::views
