#pragma once
// The 2-D operations the graph views draw with. Coordinates are the view's own: origin at the
// top-left corner, y downward, units in points; every argument is single precision.
//
// Effects every implementation must give:
// - colour components outside 0 ... 1 count as the nearest bound (a NaN counts as 0);
// - strokePath() strokes every subpath with the current width and stroke colour (butt caps,
//   mitred joins, antialiased), then empties the path;
// - fillRect() with a negative width or height covers the same area as the normalised rectangle;
// - translate/scale/rotate act on the current transform in call order, so the last call acts
//   first on the coordinates drawn; a positive angle (radians) turns +x toward +y, which is
//   clockwise on screen. The line width is scaled with the transform.
// Each draw starts from a fresh context: identity transform, line width 1, black stroke and fill.
// The path is kept in user space: the views set the transform before they build a path.
#include <algorithm>
#include <cmath>

namespace fm::views {

struct RectF {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

class DrawingContext {
  public:
    virtual ~DrawingContext() = default;

    virtual void setLineWidth(float width) = 0;
    virtual void setStrokeColor(float red, float green, float blue, float alpha) = 0;
    virtual void setFillColor(float red, float green, float blue, float alpha) = 0;
    virtual void moveToPoint(float x, float y) = 0;
    virtual void addLineToPoint(float x, float y) = 0;
    virtual void addEllipseInRect(RectF rect) = 0;
    virtual void strokePath() = 0;
    virtual void fillRect(RectF rect) = 0;
    virtual void translate(float tx, float ty) = 0;
    virtual void scale(float sx, float sy) = 0;
    virtual void rotate(float radians) = 0;
};

// A colour component as the context uses it: clamped to 0 ... 1, NaN as 0.
inline float clampedComponent(float c) {
    if (std::isnan(c)) {
        return 0.0f;
    }
    return std::clamp(c, 0.0f, 1.0f);
}

// The rectangle with a non-negative width and height that covers the same area.
inline RectF normalizedRect(RectF r) {
    if (r.width < 0.0f) {
        r.x += r.width;
        r.width = -r.width;
    }
    if (r.height < 0.0f) {
        r.y += r.height;
        r.height = -r.height;
    }
    return r;
}

}  // namespace fm::views
