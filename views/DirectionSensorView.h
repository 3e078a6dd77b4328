#pragma once
// The polar direction ring: for each whole degree the last level reading filed there and when,
// drawn as a thick ring of 1-degree segments whose radius and colour come from the reading and
// whose brightness fades with its age, turned so that the latest reading points straight up,
// with a V-shaped pointer and a rim circle.
// From the layout: `new DirectionSensorView(parent)`, geometry, then initWithCoder() (a full
// ring at radius 110, every reading fresh); in code: initWithFrame(frame) (no times, radii 0).
// Ages come from fm::toolkit::Clock, which tests can pin.
#include <QRectF>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "views/DisplayRequest.h"
#include "views/DrawingContext.h"

namespace fm::views {

// The degree of the latest reading filed by any DirectionSensorView; starts at 0.
extern int32_t lastTheta;

class DirectionSensorView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kDegrees = 360;

    explicit DirectionSensorView(QWidget* parent = nullptr);

    static DirectionSensorView* initWithFrame(const QRectF& frame, QWidget* parent = nullptr);
    void initWithCoder();

    // Files a reading r at theta degrees: paints the arc from lastTheta to theta (crossing the
    // 359/0 seam only for jumps of 300 degrees or more) with radius 125 - r (0 for r >= 125 or
    // NaN) and the current time, then lastTheta = theta. A theta outside 0 ... 359 is taken
    // modulo 360 first.
    void updatePolarR(double r, int theta);

    // a + (b - a) * t in single precision, t not clamped.
    float lerpfloat(float a, float b, float t) const;

    void drawRect(fm::views::DrawingContext& context);
    void setNeedsDisplay() { requestDisplay(this); }

    // When degree k was last written (Clock seconds since 1970); absent until first written,
    // and an absent time has age 0.
    std::array<std::optional<double>, kDegrees> readingTimeArray{};
    // Radius stored for degree k, in ring units (before the draw's 0.7 scaling).
    std::array<double, kDegrees> thetaPointArray{};

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace fm::views
