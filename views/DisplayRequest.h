#pragma once
// A view whose content changed asks to be drawn again (the phone's setNeedsDisplay). The request
// goes first to the view's window: whoever shows the screen there may take it and repaint just
// the view's own rectangle (the desktop window does, at its zoom and turn). When nobody takes
// it, the view marks itself for repainting with QWidget::update(), as any widget does.
#include <QEvent>

class QWidget;

namespace fm::views {

class DisplayRequest : public QEvent {
  public:
    explicit DisplayRequest(QWidget* view);
    // The event type, registered with Qt once.
    static QEvent::Type eventType();

    QWidget* view() const { return view_; }

  private:
    QWidget* view_;
};

// Asks for `view` to be drawn again; nothing for a hidden view, which shows nothing.
void requestDisplay(QWidget* view);

}  // namespace fm::views
