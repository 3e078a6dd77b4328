#pragma once
// The window on a desktop: shows the device's screen zoomed by a scale and turned to the
// interface orientation, the way a phone turns its display. Ctrl+Q closes it. A view of the
// screen that asks to be drawn again (fm::views::requestDisplay) is repainted within its own
// rectangle, and a repaint draws only the area repainted, so that the meters' tick costs the
// views that changed.
#include <QElapsedTimer>
#include <QGraphicsView>
#include <QPointer>
#include <cstdint>

#include "app/ScreenProxy.h"

namespace fm::app {

class ScreenWindow : public QGraphicsView {
    Q_OBJECT
  public:
    // Takes `screen` (the controller's view) into the window.
    ScreenWindow(QWidget* screen, double scale);
    ~ScreenWindow() override;

    double scale() const { return scale_; }
    int interfaceOrientation() const { return orientation_; }
    // Turns the displayed screen (1 portrait, 2 upside down, 3/4 landscape right/left).
    void setInterfaceOrientation(int orientation);

    // What the window has repainted since it was made: device pixels of the viewport (each
    // repainted area counted once per paint) and paints. With FM_PAINT_STATS in the environment
    // both are said on standard error when the window closes.
    std::uint64_t paintedPixels() const { return paintedPixels_; }
    std::uint64_t paints() const { return paints_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void relayout();
    // Repaints the part of the viewport where `view`, a widget of the screen, is shown.
    void repaintView(QWidget* view);

    // Goes with the screen when the screen is deleted first.
    QPointer<ScreenProxy> proxy_;
    double scale_;
    int orientation_ = 1;
    std::uint64_t paintedPixels_ = 0;
    std::uint64_t paints_ = 0;
    QElapsedTimer life_;
};

}  // namespace fm::app
