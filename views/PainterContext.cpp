#include "views/PainterContext.h"

#include <QImage>
#include <QPolygonF>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace fm::views {
namespace {

QColor clampedColor(float r, float g, float b, float a) {
    return QColor::fromRgbF(clampedComponent(r), clampedComponent(g), clampedComponent(b),
                            clampedComponent(a));
}

// Chains shorter than this are stroked segment by segment like any other stroke.
constexpr std::size_t kLayeredChain = 8;
// The largest layer, in device pixels; a chain spread wider is stroked segment by segment.
constexpr qint64 kMaxLayerPixels = qint64{4096} * 4096;

// The tallest translucent fill, in device rows, that Qt's raster engine blends at once.
constexpr int kFillBandRows = 32;

// What a segment of a chain covers: each pixel's coverage in a box of device pixels.
struct CoverageTile {
    QRect box;
    std::vector<uchar> alpha;  // row by row over the box
    // Per row of the box, the columns [first, end) between the first and last covered pixel.
    std::vector<std::pair<int, int>> covered;
};

// The coverage of each segment of the last chain drawn, for the transform and width it was
// drawn with.
struct CoverageCache {
    QTransform toDevice;
    double width = 0.0;
    std::vector<QLineF> lines;
    std::vector<CoverageTile> tiles;
};

// The premultiplied colour Qt's raster engine blends for a pen colour on an 8-bit image.
QRgb premultiplied(const QColor& c) {
    return qPremultiply(c.rgba64()).toArgb32();
}

// Each channel of x times a / 255, rounded the way Qt's raster engine rounds.
inline QRgb byteMul(QRgb x, uint a) {
    uint t = (x & 0xff00ffu) * a;
    t = (t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8;
    t &= 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = x + ((x >> 8) & 0xff00ffu) + 0x800080u;
    x &= 0xff00ff00u;
    return x | t;
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
    chain_.reserve(512);
}

PainterContext::~PainterContext() {
    flushChain();
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

bool PainterContext::extendsChain(const QLineF& line) const {
    return !chain_.empty() && chain_.back().line.p2() == line.p1() && pen_.widthF() == chainWidth_;
}

void PainterContext::flushChain() {
    if (chain_.empty()) {
        return;
    }
    if (chain_.size() < kLayeredChain || !drawChainThroughLayer()) {
        drawChainDirectly();
    }
    chain_.clear();  // keeps its storage
}

void PainterContext::drawChainDirectly() {
    QPen pen = pen_;
    pen.setWidthF(chainWidth_);
    for (const ChainSegment& segment : chain_) {
        pen.setColor(segment.color);
        painter_.setPen(pen);
        painter_.drawLines(&segment.line, 1);
    }
}

bool PainterContext::drawChainThroughLayer() {
    // A zero width is Qt's one-pixel cosmetic pen; such chains are stroked as they come.
    if (painter_.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter_.opacity() != 1.0 || !(chainWidth_ > 0.0)) {
        return false;
    }
    bool invertible = false;
    const QTransform toDevice = painter_.deviceTransform();
    // What the device adds beyond the painter's own transform (the pixel ratio), undone when the
    // layer is put down pixel for pixel.
    const QTransform deviceExtra = painter_.worldTransform().inverted(&invertible) * toDevice;
    const QTransform deviceExtraUndone =
        invertible ? deviceExtra.inverted(&invertible) : QTransform();
    if (!invertible) {
        return false;
    }

    // Where each segment lands, in device pixels.
    boxes_.clear();
    const double half = chainWidth_ / 2.0;
    QRectF bounds;
    for (const ChainSegment& segment : chain_) {
        const QPointF d = segment.line.p2() - segment.line.p1();
        const QPointF n = QPointF(-d.y(), d.x()) * (half / std::hypot(d.x(), d.y()));
        const QPolygonF corners({segment.line.p1() + n, segment.line.p2() + n,
                                 segment.line.p2() - n, segment.line.p1() - n});
        const QRectF box = toDevice.map(corners).boundingRect();
        bounds = boxes_.empty() ? box : bounds.united(box);
        boxes_.push_back(box);
    }
    const QRect area = bounds.toAlignedRect();
    if (area.isEmpty() || qint64{area.width()} * area.height() > kMaxLayerPixels) {
        return false;
    }

    // Kept between draws: the ring covers the same area frame after frame, and mostly the same
    // segments in the same places, only their colours fading. The coverage image is left all
    // clear after every use.
    thread_local QImage layer;
    thread_local QImage coverage;
    thread_local CoverageCache cache;
    if (layer.size() != area.size()) {
        layer = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
        coverage = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
        if (layer.isNull() || coverage.isNull()) {
            layer = coverage = QImage();
            return false;
        }
        coverage.fill(0);
    }
    const bool sameGeometry = cache.toDevice == toDevice && cache.width == chainWidth_;
    cache.toDevice = toDevice;
    cache.width = chainWidth_;
    cache.lines.resize(chain_.size());
    cache.tiles.resize(chain_.size());
    uchar* const coverageBits = coverage.bits();
    const qsizetype stride = coverage.bytesPerLine();
    std::optional<QPainter> raster;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        if (sameGeometry && cache.lines[i] == chain_[i].line) {
            continue;  // its coverage is known
        }
        if (!raster) {
            // Opaque white replacing what is there: Qt blends that on this thread, at once.
            raster.emplace(&coverage);
            raster->setRenderHint(QPainter::Antialiasing, true);
            raster->setCompositionMode(QPainter::CompositionMode_Source);
            QPen pen = pen_;
            pen.setWidthF(chainWidth_);
            pen.setColor(Qt::white);
            raster->setPen(pen);
            raster->setTransform(toDevice * QTransform::fromTranslate(-area.x(), -area.y()));
        }
        raster->drawLines(&chain_[i].line, 1);
        // The box the segment lands in, and a pixel around it for the antialiasing.
        const QRect box = boxes_[i].toAlignedRect().adjusted(-1, -1, 1, 1) & area;
        CoverageTile& tile = cache.tiles[i];
        tile.box = box;
        tile.alpha.assign(static_cast<std::size_t>(box.width()) * box.height(), 0);
        tile.covered.assign(static_cast<std::size_t>(box.height()), {0, 0});
        uchar* into = tile.alpha.data();
        for (int row = 0; row < box.height(); ++row) {
            auto* cover =
                reinterpret_cast<QRgb*>(coverageBits + (box.top() + row - area.y()) * stride) +
                (box.left() - area.x());
            int first = box.width();
            int end = 0;
            for (int x = 0; x < box.width(); ++x, ++into) {
                const uint k = qAlpha(cover[x]);
                if (k != 0) {
                    *into = static_cast<uchar>(k);
                    cover[x] = 0;
                    first = std::min(first, x);
                    end = x + 1;
                }
            }
            if (end > first) {
                tile.covered[static_cast<std::size_t>(row)] = {first, end};
            }
        }
        cache.lines[i] = chain_[i].line;
    }
    raster.reset();

    // Each segment over the layer, in order, as Qt blends a colour at a pixel's coverage.
    layer.fill(0);
    uchar* const layerBits = layer.bits();
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        const QRgb color = premultiplied(chain_[i].color);
        const CoverageTile& tile = cache.tiles[i];
        for (int row = 0; row < tile.box.height(); ++row) {
            const auto [first, end] = tile.covered[static_cast<std::size_t>(row)];
            const uchar* k = tile.alpha.data() + static_cast<std::size_t>(row) * tile.box.width();
            auto* out =
                reinterpret_cast<QRgb*>(layerBits + (tile.box.top() + row - area.y()) * stride) +
                (tile.box.left() - area.x());
            for (int x = first; x < end; ++x) {
                if (k[x] == 0) {
                    continue;
                }
                const QRgb c = k[x] == 255 ? color : byteMul(color, k[x]);
                out[x] = c + byteMul(out[x], 255 - qAlpha(c));
            }
        }
    }
    painter_.save();
    painter_.setWorldTransform(QTransform::fromTranslate(area.x(), area.y()) * deviceExtraUndone);
    painter_.drawImage(QPointF(0, 0), layer);
    painter_.restore();
    return true;
}

void PainterContext::strokePath() {
    // One segment on its own joins the chain it continues; the chain is drawn when something
    // else comes.
    if (ops_.size() == 2 && ops_[0].kind == PathOp::Move && ops_[1].kind == PathOp::Line) {
        const QLineF line(ops_[0].a, ops_[0].b, ops_[1].a, ops_[1].b);
        ops_.clear();
        if (line.p1() == line.p2()) {
            return;  // butt caps: covers nothing
        }
        if (!extendsChain(line)) {
            flushChain();
        }
        chain_.push_back({line, pen_.color()});
        chainWidth_ = pen_.widthF();
        return;
    }
    flushChain();
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
    flushChain();
    const RectF r = normalizedRect(rect);
    const QRectF area(r.x, r.y, r.width, r.height);
    // A translucent fill taller than a few device rows is handed by Qt's raster engine to its
    // thread pool and waited for. Cut on whole device rows into bands low enough to be blended
    // at once on this thread, it covers the same pixels the same way.
    const QTransform toDevice = painter_.deviceTransform();
    bool invertible = false;
    const QTransform deviceExtra = painter_.worldTransform().inverted(&invertible) * toDevice;
    const QTransform undoExtra = invertible ? deviceExtra.inverted(&invertible) : QTransform();
    QRectF onDevice = toDevice.mapRect(area);
    if (fill_.alpha() == 255 || toDevice.type() > QTransform::TxScale || !invertible ||
        !std::isfinite(onDevice.top()) || !std::isfinite(onDevice.bottom()) ||
        onDevice.height() <= kFillBandRows) {
        painter_.fillRect(area, fill_);
        return;
    }
    // Only what lands on the device is drawn: a fill far taller than the view (a bar at a huge
    // level) must not become millions of bands.
    const QPaintDevice* device = painter_.device();
    const double ratio = device->devicePixelRatioF();
    onDevice =
        onDevice.intersected(QRectF(0.0, 0.0, device->width() * ratio, device->height() * ratio));
    if (onDevice.isEmpty()) {
        return;
    }
    painter_.save();
    painter_.setWorldTransform(undoExtra);
    double top = onDevice.top();
    while (top < onDevice.bottom()) {
        const double bottom =
            std::min(onDevice.bottom(), std::floor(top) + static_cast<double>(kFillBandRows));
        painter_.fillRect(QRectF(QPointF(onDevice.left(), top), QPointF(onDevice.right(), bottom)),
                          fill_);
        top = bottom;
    }
    painter_.restore();
}

void PainterContext::translate(float tx, float ty) {
    flushChain();
    painter_.translate(tx, ty);
}

void PainterContext::scale(float sx, float sy) {
    flushChain();
    painter_.scale(sx, sy);
}

void PainterContext::rotate(float radians) {
    flushChain();
    painter_.rotate(qRadiansToDegrees(double{radians}));
}

}  // namespace fm::views
