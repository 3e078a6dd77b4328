#include "views/RecordingContext.h"

#include <algorithm>
#include <sstream>

namespace fm::views {

const char* drawOpName(DrawOp op) {
    switch (op) {
        case DrawOp::SetLineWidth:
            return "SetLineWidth";
        case DrawOp::SetStrokeColor:
            return "SetStrokeColor";
        case DrawOp::SetFillColor:
            return "SetFillColor";
        case DrawOp::MoveToPoint:
            return "MoveToPoint";
        case DrawOp::AddLineToPoint:
            return "AddLineToPoint";
        case DrawOp::AddEllipseInRect:
            return "AddEllipseInRect";
        case DrawOp::StrokePath:
            return "StrokePath";
        case DrawOp::FillRect:
            return "FillRect";
        case DrawOp::Translate:
            return "Translate";
        case DrawOp::Scale:
            return "Scale";
        case DrawOp::Rotate:
            return "Rotate";
    }
    return "?";
}

void RecordingContext::record(DrawOp op, float a, float b, float c, float d) {
    calls_.push_back(DrawCall{op, {a, b, c, d}});
}

void RecordingContext::setLineWidth(float width) {
    record(DrawOp::SetLineWidth, width);
}
void RecordingContext::setStrokeColor(float red, float green, float blue, float alpha) {
    record(DrawOp::SetStrokeColor, red, green, blue, alpha);
}
void RecordingContext::setFillColor(float red, float green, float blue, float alpha) {
    record(DrawOp::SetFillColor, red, green, blue, alpha);
}
void RecordingContext::moveToPoint(float x, float y) {
    record(DrawOp::MoveToPoint, x, y);
}
void RecordingContext::addLineToPoint(float x, float y) {
    record(DrawOp::AddLineToPoint, x, y);
}
void RecordingContext::addEllipseInRect(RectF r) {
    record(DrawOp::AddEllipseInRect, r.x, r.y, r.width, r.height);
}
void RecordingContext::strokePath() {
    record(DrawOp::StrokePath);
}
void RecordingContext::fillRect(RectF r) {
    record(DrawOp::FillRect, r.x, r.y, r.width, r.height);
}
void RecordingContext::translate(float tx, float ty) {
    record(DrawOp::Translate, tx, ty);
}
void RecordingContext::scale(float sx, float sy) {
    record(DrawOp::Scale, sx, sy);
}
void RecordingContext::rotate(float radians) {
    record(DrawOp::Rotate, radians);
}

std::vector<DrawCall> RecordingContext::callsOf(DrawOp op) const {
    std::vector<DrawCall> out;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
                 [op](const DrawCall& c) { return c.op == op; });
    return out;
}

std::size_t RecordingContext::count(DrawOp op) const {
    return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(),
                                                  [op](const DrawCall& c) { return c.op == op; }));
}

std::string RecordingContext::dump() const {
    std::ostringstream out;
    out.precision(9);
    for (const DrawCall& c : calls_) {
        out << drawOpName(c.op) << ' ' << c[0] << ' ' << c[1] << ' ' << c[2] << ' ' << c[3] << '\n';
    }
    return out.str();
}

}  // namespace fm::views
