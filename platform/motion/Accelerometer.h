#pragma once
// The shared accelerometer: delivers samples from the process-wide motion source to its
// delegate on the main thread, once per update interval.
#include <QObject>
#include <QTimer>

#include "platform/motion/MotionReading.h"

namespace fm::platform {

class Accelerometer;

class AccelerometerDelegate {
  public:
    virtual ~AccelerometerDelegate() = default;
    virtual void accelerometerDidAccelerate(Accelerometer* accelerometer,
                                            const Acceleration& acceleration) = 0;
};

class Accelerometer : public QObject {
    Q_OBJECT
  public:
    // The one accelerometer of the process, made on first use on the main thread.
    static Accelerometer* sharedAccelerometer();

    // Seconds between samples; 0 (the start value) delivers nothing.
    void setUpdateInterval(double seconds);
    double updateInterval() const { return interval_; }
    // Samples go to this delegate; null stops delivery.
    void setDelegate(AccelerometerDelegate* delegate);
    AccelerometerDelegate* delegate() const { return delegate_; }

    // Reads the source and hands the sample to the delegate now (what the timer does).
    void deliverSample();

  private:
    Accelerometer();
    void restart();

    QTimer timer_;
    double interval_ = 0.0;
    AccelerometerDelegate* delegate_ = nullptr;
};

}  // namespace fm::platform
