#pragma once
// The window on a desktop: shows the device's screen zoomed by a scale and turned to the
// interface orientation, the way a phone turns its display. Ctrl+Q closes it.
#include <QGraphicsView>

class QGraphicsProxyWidget;

namespace fm::app {

class ScreenWindow : public QGraphicsView {
    Q_OBJECT
  public:
    // Takes `screen` (the controller's view) into the window.
    ScreenWindow(QWidget* screen, double scale);

    double scale() const { return scale_; }
    int interfaceOrientation() const { return orientation_; }
    // Turns the displayed screen (1 portrait, 2 upside down, 3/4 landscape right/left).
    void setInterfaceOrientation(int orientation);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void relayout();

    QGraphicsProxyWidget* proxy_ = nullptr;
    double scale_;
    int orientation_ = 1;
};

}  // namespace fm::app
