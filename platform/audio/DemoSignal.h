#pragma once
// The generated demo signal that stands in for a microphone: three tones gliding in frequency
// under a level envelope that sweeps, on a log scale, from a whisper (RMS about 2 in 16-bit
// units) to loud (RMS about 1000) and back every 24 seconds, so the meter crosses its whole colour
// ramp and the tones move visibly across the spectrum. Deterministic: the same samples on every
// run.
#include <complex>
#include <cstdint>

#include "platform/audio/BlockSource.h"

namespace fm::platform {

class DemoSignal : public BlockSource {
  public:
    static constexpr double kSampleRate = 44100.0;
    static constexpr double kSweepSeconds = 24.0;  // quiet → loud → quiet
    static constexpr double kQuietRms = 2.0;
    static constexpr double kLoudRms = 1000.0;

    bool open(std::string* /*error*/) override { return true; }
    // The samples are whole 16-bit values / 32768.
    std::uint32_t fill(float* out, std::uint32_t frames) override;

    // The envelope's RMS at time t seconds (exposed for tests).
    static double envelopeRms(double t);

  private:
    static constexpr std::uint64_t kControlFrames = 64;
    void updateControls();

    std::uint64_t position_ = 0;
    std::complex<double> phase_[3] = {1.0, 1.0, 1.0};  // e^(i·phase) of each tone
    std::complex<double> step_[3] = {1.0, 1.0, 1.0};   // e^(i·2π·f/rate)
    double gain_ = 0.0;
};

}  // namespace fm::platform
