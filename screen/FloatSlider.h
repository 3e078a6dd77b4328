#pragma once
// A slider with single-precision values between a minimum and a maximum (the phone's slider);
// QSlider's integer steps are mapped onto the range in 1000 steps.
#include <QSlider>

namespace fm::screen {

class FloatSlider : public QSlider {
    Q_OBJECT
    Q_PROPERTY(double minimumValue READ minimumValueD WRITE setMinimumValueD)
    Q_PROPERTY(double maximumValue READ maximumValueD WRITE setMaximumValueD)
    Q_PROPERTY(double floatValue READ valueD WRITE setValueD)

  public:
    static constexpr int kSteps = 1000;

    explicit FloatSlider(QWidget* parent = nullptr);

    float value() const { return value_; }
    // Clamped to the range. Only the user's moves emit valueChangedFloat, as on the phone.
    void setValue(float v);
    float minimumValue() const { return min_; }
    float maximumValue() const { return max_; }
    // Setting a bound moves the other one and the value along when needed.
    void setMinimumValue(float v);
    void setMaximumValue(float v);

  signals:
    void valueChangedFloat(float value);

  private:
    double minimumValueD() const { return min_; }
    void setMinimumValueD(double v) { setMinimumValue(static_cast<float>(v)); }
    double maximumValueD() const { return max_; }
    void setMaximumValueD(double v) { setMaximumValue(static_cast<float>(v)); }
    double valueD() const { return value_; }
    void setValueD(double v) { setValue(static_cast<float>(v)); }
    void syncPosition();
    void positionMoved(int position);

    float min_ = 0.0f;
    float max_ = 1.0f;
    float value_ = 0.0f;
    bool syncing_ = false;
};

}  // namespace fm::screen
