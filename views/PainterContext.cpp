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
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(Qt::NoBrush);
    ops_.reserve(1024);
    lines_.reserve(512);
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
    ops_.push_back({PathOp::Move, x, y, 0, 0});
}

void PainterContext::addLineToPoint(float x, float y) {
    ops_.push_back({PathOp::Line, x, y, 0, 0});
}

void PainterContext::addEllipseInRect(RectF r) {
    ops_.push_back({PathOp::Ellipse, r.x, r.y, r.width, r.height});
}

void PainterContext::addSegment(const QLineF& line) {
    // A segment that carries on exactly where the previous one ended, in exactly the same
    // direction, lengthens it: one line covers the union of the two, with no antialiased seam
    // where they meet (and a flat curve costs one line instead of hundreds).
    if (!lines_.empty()) {
        QLineF& last = lines_.back();
        const QPointF a = last.p2() - last.p1();
        const QPointF b = line.p2() - line.p1();
        const bool continues = last.p2() == line.p1();
        const bool collinear = a.x() * b.y() - a.y() * b.x() == 0.0;
        const bool forward = a.x() * b.x() + a.y() * b.y() > 0.0;
        if (continues && collinear && forward) {
            last.setP2(line.p2());
            return;
        }
    }
    lines_.push_back(line);
}

void PainterContext::strokePath() {
    // Subpaths that are one straight segment go to QPainter's line drawing, which rasterises
    // each thick segment directly and is far faster than the general stroker; everything else
    // (longer polylines, ellipses) goes through the stroker. A zero-length segment with butt
    // caps covers nothing and is left out.
    lines_.clear();
    path_.clear();  // keeps its storage
    bool general = false;
    for (std::size_t i = 0; i < ops_.size(); ++i) {
        const PathOp& op = ops_[i];
        const bool loneSegment = op.kind == PathOp::Move && i + 1 < ops_.size() &&
                                 ops_[i + 1].kind == PathOp::Line &&
                                 (i + 2 == ops_.size() || ops_[i + 2].kind != PathOp::Line);
        if (loneSegment) {
            const QLineF line(op.a, op.b, ops_[i + 1].a, ops_[i + 1].b);
            if (line.p1() != line.p2()) {
                addSegment(line);
            }
            ++i;
            continue;
        }
        general = true;
        switch (op.kind) {
            case PathOp::Move:
                path_.moveTo(op.a, op.b);
                break;
            case PathOp::Line:
                path_.lineTo(op.a, op.b);
                break;
            case PathOp::Ellipse:
                path_.addEllipse(op.a, op.b, op.c, op.d);
                break;
        }
    }
    if (!lines_.empty()) {
        painter_.setPen(pen_);
        painter_.drawLines(lines_.data(), static_cast<int>(lines_.size()));
    }
    if (general) {
        painter_.strokePath(path_, pen_);
    }
    ops_.clear();  // keeps its storage for the next path
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
