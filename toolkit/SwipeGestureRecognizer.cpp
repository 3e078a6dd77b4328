#include "toolkit/SwipeGestureRecognizer.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QMouseEvent>
#include <QShortcut>
#include <cmath>

namespace fm::toolkit {

SwipeGestureRecognizer::SwipeGestureRecognizer(Action action, QObject* parent)
    : QObject(parent), action_(std::move(action)) {}

SwipeGestureRecognizer::~SwipeGestureRecognizer() {
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
    }
}

void SwipeGestureRecognizer::setDirection(Direction direction) {
    direction_ = direction;
    installShortcut();
}

void SwipeGestureRecognizer::addToWidget(QWidget* widget) {
    widget_ = widget;
    setParent(widget);
    // Touches on the widget's children count too, as on the phone: watch the whole application
    // and keep the events that start inside the widget.
    qApp->installEventFilter(this);
    installShortcut();
}

void SwipeGestureRecognizer::installShortcut() {
    delete shortcut_;
    shortcut_ = nullptr;
    if (widget_.isNull()) {
        return;
    }
    // A left swipe moves to the page on the right: the Right arrow.
    const Qt::Key key = direction_ == Left ? Qt::Key_Right : Qt::Key_Left;
    shortcut_ = new QShortcut(QKeySequence(key), widget_);
    shortcut_->setContext(Qt::WindowShortcut);
    shortcut_->setAutoRepeat(false);
    connect(shortcut_, &QShortcut::activated, this, &SwipeGestureRecognizer::recognize);
}

bool SwipeGestureRecognizer::belongsToView(QObject* object) const {
    auto* w = qobject_cast<QWidget*>(object);
    return w != nullptr && !widget_.isNull() && (w == widget_ || widget_->isAncestorOf(w));
}

bool SwipeGestureRecognizer::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            // The same press passes here once per widget it propagates to: take the first.
            if (!tracking_ && mouse->button() == Qt::LeftButton && belongsToView(watched) &&
                qobject_cast<QAbstractSlider*>(watched) == nullptr) {
                tracking_ = true;
                start_ = mouse->globalPosition();
            }
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (tracking_ && mouse->button() == Qt::LeftButton) {
                tracking_ = false;
                const QPointF travel = mouse->globalPosition() - start_;
                const bool horizontal = std::abs(travel.x()) >= kMinimumTravel &&
                                        std::abs(travel.x()) > std::abs(travel.y());
                const Direction swiped = travel.x() > 0 ? Right : Left;
                if (horizontal && swiped == direction_) {
                    recognize();
                }
            }
            break;
        }
        default:
            break;
    }
    return false;  // the controls under the finger still get their events
}

void SwipeGestureRecognizer::recognize() {
    if (action_) {
        action_(this);
    }
}

}  // namespace fm::toolkit
