#include "toolkit/FrameAnimation.h"

#include <QPointer>
#include <QVariant>
#include <cmath>

namespace fm::toolkit {
namespace {
constexpr char kRunningAnimation[] = "fm_frameAnimation";
}

QEasingCurve easingFor(AnimationCurve curve) {
    switch (curve) {
        case AnimationCurve::EaseInOut: {
            QEasingCurve bezier(QEasingCurve::BezierSpline);
            bezier.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
            return bezier;
        }
        case AnimationCurve::EaseIn: {
            QEasingCurve bezier(QEasingCurve::BezierSpline);
            bezier.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(1.0, 1.0), QPointF(1.0, 1.0));
            return bezier;
        }
        case AnimationCurve::EaseOut: {
            QEasingCurve bezier(QEasingCurve::BezierSpline);
            bezier.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
            return bezier;
        }
        case AnimationCurve::Linear:
            break;
    }
    return QEasingCurve(QEasingCurve::Linear);
}

QPropertyAnimation* animateFrame(QWidget* widget, const QRect& frame, double durationSeconds,
                                 AnimationCurve curve) {
    if (widget == nullptr) {
        return nullptr;
    }
    auto* running = widget->property(kRunningAnimation).value<QObject*>();
    if (auto* old = qobject_cast<QPropertyAnimation*>(running)) {
        old->stop();  // stays where it got to
        old->deleteLater();
    }
    widget->setProperty(kRunningAnimation, QVariant::fromValue<QObject*>(nullptr));
    if (!(durationSeconds > 0.0) || !std::isfinite(durationSeconds)) {
        widget->setGeometry(frame);
        return nullptr;
    }
    auto* animation = new QPropertyAnimation(widget, "geometry", widget);
    animation->setStartValue(widget->geometry());
    animation->setEndValue(frame);
    animation->setDuration(static_cast<int>(std::lround(durationSeconds * 1000.0)));
    animation->setEasingCurve(easingFor(curve));
    widget->setProperty(kRunningAnimation, QVariant::fromValue<QObject*>(animation));
    QPointer<QWidget> guard(widget);
    QObject::connect(animation, &QPropertyAnimation::finished, [guard, animation] {
        if (!guard.isNull() && guard->property(kRunningAnimation).value<QObject*>() == animation) {
            guard->setProperty(kRunningAnimation, QVariant::fromValue<QObject*>(nullptr));
        }
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    return animation;
}

}  // namespace fm::toolkit
