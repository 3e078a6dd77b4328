#pragma once
// The device's orientation as the accelerometer sees it, with a signal when it changes.
#include <QObject>

#include "platform/motion/MotionReading.h"

namespace fm::platform {

class DeviceOrientationSource : public QObject {
    Q_OBJECT
  public:
    static DeviceOrientationSource* currentDevice();

    DeviceOrientation orientation() const { return orientation_; }
    // Sets the orientation outright (tests, or a source that knows it); emits on a change.
    void setOrientation(DeviceOrientation orientation);
    // Classifies a gravity sample and updates the orientation.
    void noteGravity(const Acceleration& g);

  signals:
    void orientationDidChange(int orientation);

  private:
    DeviceOrientationSource() = default;
    DeviceOrientation orientation_ = DeviceOrientationUnknown;
};

}  // namespace fm::platform
