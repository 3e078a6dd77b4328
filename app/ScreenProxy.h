#pragma once
// The screen as an item of the window's graphics scene. Qt's proxy renders the whole screen at
// every repaint and lets the paint's clip drop what falls outside; this one renders only the
// area the window repaints now, so that a few small views that changed cost their own
// rectangles and nothing else.
#include <QGraphicsProxyWidget>
#include <QRegion>

namespace fm::app {

class ScreenProxy : public QGraphicsProxyWidget {
  public:
    ScreenProxy();

    // The area of the window's viewport being repainted, in its coordinates; empty when the
    // scene is drawn without a repaint of the window (then the exposed rectangle is drawn).
    void setRepaintedArea(const QRegion& viewportArea) { repainted_ = viewportArea; }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

  private:
    QRegion repainted_;
};

}  // namespace fm::app
