#include "platform/audio/DemoSignal.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace fm::platform {

double DemoSignal::envelopeRms(double t) {
    // Triangle in log-level: up for half the sweep, down for the other half.
    const double phase = std::fmod(t, kSweepSeconds) / kSweepSeconds;
    const double tri = phase < 0.5 ? phase * 2.0 : (1.0 - phase) * 2.0;
    return kQuietRms * std::pow(kLoudRms / kQuietRms, tri);
}

void DemoSignal::updateControls() {
    constexpr double twoPi = 2.0 * std::numbers::pi;
    const double t = static_cast<double>(position_) / kSampleRate;
    // A low tone gliding 220–660 Hz, a middle one 1.5–4.5 kHz and a high one 6–9 kHz, each on
    // its own slow cycle.
    const double f0 = 440.0 + 220.0 * std::sin(twoPi * t / 7.0);
    const double f1 = 3000.0 + 1500.0 * std::sin(twoPi * t / 11.0);
    const double f2 = 7500.0 + 1500.0 * std::sin(twoPi * t / 5.0);
    const double f[3] = {f0, f1, f2};
    for (int k = 0; k < 3; ++k) {
        step_[k] = std::polar(1.0, twoPi * f[k] / kSampleRate);
        phase_[k] /= std::abs(phase_[k]);  // keep the oscillator on the unit circle
    }
    // Amplitudes 1, 0.6, 0.4 scaled so that the mix has the envelope's RMS.
    constexpr double norm = 1.0 / 0.8717797887081347;  // sqrt((1 + 0.36 + 0.16) / 2)
    gain_ = norm * envelopeRms(t);
}

std::uint32_t DemoSignal::fill(float* out, std::uint32_t frames) {
    for (std::uint32_t i = 0; i < frames; ++i, ++position_) {
        // The glides and the envelope move over seconds: updating them every 1.5 ms is smooth.
        // Between updates each tone is a phasor turned by a fixed step: no sine per sample.
        if (position_ % kControlFrames == 0) {
            updateControls();
        }
        for (int k = 0; k < 3; ++k) {
            phase_[k] *= step_[k];
        }
        const double mix = phase_[0].imag() + 0.6 * phase_[1].imag() + 0.4 * phase_[2].imag();
        // Whole 16-bit steps, as the signal has always had: the meters and the recording show
        // the same samples whichever form they take.
        const double v = std::clamp(std::round(mix * gain_), -32768.0, 32767.0);
        out[i] = static_cast<float>(v) * (1.0f / 32768.0f);
    }
    return frames;
}

}  // namespace fm::platform
