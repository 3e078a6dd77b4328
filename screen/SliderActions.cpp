// The five sliders: gain, base level, and three stored values with their read-outs.
#include <QLabel>

#include "audio/SignalState.h"
#include "screen/FloatSlider.h"
#include "screen/ViewController.h"

namespace fm::screen {

void ViewController::sensitivySliderValueChanged(QObject*) {
    const float v = sensitivySlider->value();
    fm::audio::sensitivityGain.store(v * v, std::memory_order_relaxed);
}

void ViewController::baseSliderValueChanged(QObject*) {
    fm::audio::baseLevel.store(baseSlider->value(), std::memory_order_relaxed);
}

void ViewController::highFreqSliderValueChanged(QObject*) {
    fm::audio::highFreqValue = highFreqSlider->value();
    // Shown like its two siblings; nothing else would ever write this label.
    highFreqLabel->setText(
        QString::asprintf("%.0f", static_cast<double>(fm::audio::highFreqValue)));
}

void ViewController::lowFreqSliderValueChanged(QObject*) {
    fm::audio::lowFreqValue = lowFreqSlider->value();
    lowFreqLabel->setText(QString::asprintf("%.0f", static_cast<double>(fm::audio::lowFreqValue)));
}

void ViewController::numPassLabelSliderValueChanged(QObject*) {
    fm::audio::numPassValue = numPassSlider->value();
    numPassLabel->setText(QString::asprintf("%.0f", static_cast<double>(fm::audio::numPassValue)));
}

}  // namespace fm::screen
