#pragma once
// Left and right swipe recognizers (UISwipeGestureRecognizer) for a widget and everything in it.
// A swipe is a horizontal drag of the mouse (touch drags arrive as mouse drags): at least 30
// points sideways and more sideways than up or down; a vertical drag reaches nothing. Drags that
// start on a slider or scroll bar belong to that control. The arrow keys swipe too, anywhere in
// the widget's window: the Right arrow is a left swipe (the next page), the Left arrow a right
// swipe. The action receives the recognizer, whose direction() tells which one fired.
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <functional>

class QShortcut;

namespace fm::toolkit {

class SwipeGestureRecognizer : public QObject {
    Q_OBJECT

  public:
    enum Direction { Right = 1, Left = 2 };
    using Action = std::function<void(SwipeGestureRecognizer*)>;

    // initWithTarget:action:. Direction starts as Right, as on the phone.
    explicit SwipeGestureRecognizer(Action action, QObject* parent = nullptr);
    ~SwipeGestureRecognizer() override;

    void setDirection(Direction direction);
    Direction direction() const { return direction_; }

    // addGestureRecognizer: the widget owns the recognizer from now on.
    void addToWidget(QWidget* widget);
    QWidget* widget() const { return widget_; }

    static constexpr double kMinimumTravel = 30.0;  // points

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void installShortcut();
    bool belongsToView(QObject* object) const;
    void recognize();

    Action action_;
    Direction direction_ = Right;
    QPointer<QWidget> widget_;
    QShortcut* shortcut_ = nullptr;
    bool tracking_ = false;
    QPointF start_;
};

}  // namespace fm::toolkit
