#pragma once
// A DrawingContext that draws nothing and records every call with its single-precision
// arguments, exactly as passed (no clamping, no normalising), so tests can check geometry and
// colours to the bit.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "views/DrawingContext.h"

namespace fm::views {

enum class DrawOp {
    SetLineWidth,      // width
    SetStrokeColor,    // r, g, b, a
    SetFillColor,      // r, g, b, a
    MoveToPoint,       // x, y
    AddLineToPoint,    // x, y
    AddEllipseInRect,  // x, y, w, h
    StrokePath,        // -
    FillRect,          // x, y, w, h
    Translate,         // tx, ty
    Scale,             // sx, sy
    Rotate,            // radians
};

const char* drawOpName(DrawOp op);

struct DrawCall {
    DrawOp op;
    std::array<float, 4> args{};

    float operator[](std::size_t i) const { return args[i]; }
};

class RecordingContext final : public DrawingContext {
  public:
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

    const std::vector<DrawCall>& calls() const { return calls_; }
    // The calls of one kind, in order.
    std::vector<DrawCall> callsOf(DrawOp op) const;
    std::size_t count(DrawOp op) const;
    void clear() { calls_.clear(); }
    // One line per call, e.g. "MoveToPoint 1 2", for failure messages.
    std::string dump() const;

  private:
    void record(DrawOp op, float a = 0, float b = 0, float c = 0, float d = 0);
    std::vector<DrawCall> calls_;
};

}  // namespace fm::views
