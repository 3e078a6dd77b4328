#pragma once
// Frame animations (beginAnimations/setAnimationCurve/setAnimationDuration/commitAnimations
// around setFrame:): the widget's geometry moves to the new frame over the duration along the
// chosen curve. Ease-in-out is the cubic Bezier (0.42, 0) (0.58, 1) the phone uses. A new
// animation of the same widget replaces the one running, starting from where the widget is now.
#include <QPropertyAnimation>
#include <QRect>
#include <QWidget>

namespace fm::toolkit {

// The phone's curve values.
enum class AnimationCurve { EaseInOut = 0, EaseIn = 1, EaseOut = 2, Linear = 3 };

QEasingCurve easingFor(AnimationCurve curve);

// Starts the animation and returns it (it deletes itself when it ends). A duration of 0 or less
// sets the frame at once and returns nullptr.
QPropertyAnimation* animateFrame(QWidget* widget, const QRect& frame, double durationSeconds,
                                 AnimationCurve curve = AnimationCurve::EaseInOut);

}  // namespace fm::toolkit
