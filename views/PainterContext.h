#pragma once
// DrawingContext on an antialiased QPainter: the back end of every view's paintEvent, and what
// the pixel tests and benchmarks render into a QImage with.
// The constructor puts the painter in the fresh state every draw starts from (identity
// transform on top of the painter's own, line width 1, black stroke and fill, antialiasing);
// the destructor gives the painter back as it was.
// One difference from a stroker that fills the union of a path's outline: like QPainter, this
// blends the places where two subpaths of one stroke overlap twice. The views' paths overlap
// only in the tiny wedges where consecutive curve segments meet at an angle, which shows only
// on the translucent second curve of GraphView. Segments that continue one another in a
// straight line are joined into one, so a straight run has no seams.
// A long chain of strokes that are each one segment starting where the last one ended (the
// direction ring: 359 of them, each with its own colour) is drawn when the chain ends: each
// segment, in order, is blended into a layer exactly as it would be into the picture, and the
// layer is blended once over the picture. The picture is the same (up to rounding), but Qt's
// raster engine no longer hands each small translucent blend to its thread pool and waits.
// What each segment covers is kept from one draw to the next: a segment drawn again in the same
// place (the ring while the device lies still, its colours fading) is not rasterised again.
#include <QColor>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <vector>

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
    void addSegment(const QLineF& line);
    // The pending chain of one-segment strokes, drawn by flushChain() before anything else.
    bool extendsChain(const QLineF& line) const;
    void flushChain();
    void drawChainDirectly();
    bool drawChainThroughLayer();

    struct ChainSegment {
        QLineF line;
        QColor color;
    };

    struct PathOp {
        enum Kind { Move, Line, Ellipse } kind;
        float a, b, c, d;
    };

    QPainter& painter_;
    QPen pen_;
    QColor fill_;
    // The current path as the calls built it; turned into pixels at the stroke. Kept between
    // strokes so its storage is reused.
    std::vector<PathOp> ops_;
    QPainterPath path_;
    std::vector<QLineF> lines_;
    std::vector<ChainSegment> chain_;
    double chainWidth_ = 0.0;
    std::vector<QRectF> boxes_;  // where each chained segment lands, in device pixels
};

}  // namespace fm::views
