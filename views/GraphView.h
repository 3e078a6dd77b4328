#pragma once
// The line-graph view: two 320-sample curves across its width, a vertical beat marker and a
// horizontal mean marker. A passive display whose fields the screen writes directly before
// asking for a redraw; a click (or tap) on it emits tapped(), so the layout can wire an action.
//
// Made two ways:
// - from the layout: `new GraphView(parent)` by the loader, which then sets the geometry, and
//   then initWithCoder(): arrays zeroed, markers -1, clear background, xConversion = width / 320,
//   externalYConversion 1;
// - in code: GraphView::initWithFrame(frame): dataPoints[k] = k, markers -1, externalYConversion
//   0, xConversion = width / 320.
#include <QRectF>
#include <QWidget>
#include <array>

#include "views/DisplayRequest.h"
#include "views/DrawingContext.h"

namespace fm::views {

// Points per sample step along x, one value for every GraphView: the view initialised last
// decides it.
extern double xConversion;
// The y factor of the draw in progress; each GraphView draw sets it first.
extern double yConversion;

class GraphView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kSamples = 320;

    explicit GraphView(QWidget* parent = nullptr);

    // The code initialiser: a new view with this frame (in points).
    static GraphView* initWithFrame(const QRectF& frame, QWidget* parent = nullptr);
    // The layout initialiser; call once the layout has given the view its geometry.
    void initWithCoder();

    // Draws the whole view; reads the fields, writes only yConversion.
    void drawRect(fm::views::DrawingContext& context);
    void setNeedsDisplay() { requestDisplay(this); }

    std::array<double, kSamples> dataPoints{};   // first curve, log-scaled when logScaleMode
    std::array<double, kSamples> dataPoints2{};  // second curve, always log-scaled
    float beatXPosition = 0.0f;                  // sample index of the vertical marker
    float meanYPosition = 0.0f;                  // value (sample units) of the horizontal marker
    double externalYConversion = 0.0;            // points per sample unit on y
    bool logScaleMode = false;

  signals:
    void tapped();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void strokeCurve(fm::views::DrawingContext& context, const std::array<double, kSamples>& data,
                     bool logForm, double height);
    bool pressed_ = false;
    QPointF pressPosition_;
};

}  // namespace fm::views
