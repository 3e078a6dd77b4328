// The five sliders: gain, base level, and three stored values with their read-outs.
#include <QLabel>

#include "audio/SignalState.h"
#include "screen/FloatSlider.h"
#include "screen/ViewController.h"

void ViewController::sensitivySliderValueChanged(QObject*) {
    const float v = sensitivySlider->value();
    sensitivityGain.store(v * v, std::memory_order_relaxed);
}

void ViewController::baseSliderValueChanged(QObject*) {
    baseLevel.store(baseSlider->value(), std::memory_order_relaxed);
}

void ViewController::highFreqSliderValueChanged(QObject*) {
    highFreqValue = highFreqSlider->value();
    // Shown like its two siblings; nothing else would ever write this label.
    highFreqLabel->setText(QString::asprintf("%.0f", static_cast<double>(highFreqValue)));
}

void ViewController::lowFreqSliderValueChanged(QObject*) {
    lowFreqValue = lowFreqSlider->value();
    lowFreqLabel->setText(QString::asprintf("%.0f", static_cast<double>(lowFreqValue)));
}

void ViewController::numPassLabelSliderValueChanged(QObject*) {
    numPassValue = numPassSlider->value();
    numPassLabel->setText(QString::asprintf("%.0f", static_cast<double>(numPassValue)));
}
