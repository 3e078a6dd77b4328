#pragma once
// The calibration of the sound levels: the offset that turns dBFS into dB (what 0 dBFS reads),
// from this run's option, or kept between runs, or measured with the key K from a reference
// source (a sound calibrator). One object, made before any screen: it checks what it is given,
// measures, proposes, and keeps or forgets. It never prints; it returns what to say. Main thread.
// Qt-free.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "measure/SecondRecord.h"
#include "measure/SoundLevelSnapshot.h"
#include "platform/settings/CalibrationStore.h"

namespace fm::measure {

class SoundLevelMeter;

class Calibration {
  public:
    // What 0 dBFS may read, for an offset to be believed: a microphone that clips at 60 dB or
    // at 160 dB is no microphone a meter is calibrated for.
    static constexpr double kMinOffsetDb = 60.0;
    static constexpr double kMaxOffsetDb = 160.0;
    // The level a reference source may have (--calibrate-to).
    static constexpr double kMinReferenceDb = 60.0;
    static constexpr double kMaxReferenceDb = 150.0;
    // The K procedure: a steady, loud, tonal reference over 3 s.
    static constexpr double kSeconds = 3.0;
    static constexpr double kMaxMovementDb = 0.5;
    static constexpr double kMinLevelDbfs = -70.0;
    static constexpr double kMinBandShare = 0.8;
    // A change from the last calibration beyond this is flagged.
    static constexpr double kDriftFlagDb = 0.5;

    using Clock = std::chrono::system_clock;

    Calibration(SoundLevelMeter& meter, fm::platform::CalibrationStore& store);

    // At start: --forget-calibration, --calibration (this run only), --calibrate-to. Applies the
    // result to the meter and returns the lines to say (e.g. why a stored offset is ignored).
    std::vector<std::string> setUp(bool forget, std::optional<double> runOffsetDb,
                                   double referenceDb);
    // Before setUp: the microphone's calibration file (its name) and the offset its sensitivity
    // gives, used when neither --calibration nor a calibration with K is.
    void setMicrophoneFile(std::string name, double offsetDb) {
        micFileName_ = std::move(name);
        micFileOffsetDb_ = offsetDb;
    }

    bool calibrated() const { return offset_.has_value(); }
    double offsetDb() const { return offset_.value_or(0.0); }
    // When the offset in use was set ("2026-12-01T09:30:00Z"); empty for this run's option.
    const std::string& date() const { return date_; }
    double referenceDb() const { return referenceDb_; }

    // The key K: starts measuring the reference, or says why not (empty when it started).
    // `bandEnergies`: the third-octave bands' energies so far (see tick).
    std::string start(InputKind input, const SoundLevelSnapshot& now,
                      const std::vector<double>& bandEnergies);
    bool measuring() const { return start_.has_value(); }
    // Seconds of the reference measured so far.
    double measuredSeconds(const SoundLevelSnapshot& now) const;

    // What a finished measurement proposes.
    struct Proposal {
        double measuredDbfs = 0.0;  // LZeq of the reference over the 3 s
        double offsetDb = 0.0;      // the new offset
        std::optional<double> previousOffsetDb;
        std::string previousDate;
        // "0 dBFS = 114.2 dB (the reference read -20.2 dBFS)"
        std::string summary;
        // "+0.3 dB since 2026-12-01", with " - more than 0.5 dB: check the microphone" when
        // flagged; empty without an earlier calibration.
        std::string drift;
        bool driftFlagged = false;
    };
    // Main thread, at every meter tick while measuring: follows the reference (`bandEnergies`:
    // each third-octave band's energy since the start, in the measurement's frames). Returns a
    // proposal once 3 s are measured and every check passed; otherwise nullopt, and refusal()
    // says why when the measurement ended without one.
    std::optional<Proposal> tick(InputKind input, const SoundLevelSnapshot& now,
                                 const std::vector<double>& bandEnergies);
    // Why the last measurement was refused (empty when it was not).
    const std::string& refusal() const { return refusal_; }

    // Uses and keeps the proposal (for the next runs too); false with *error when it could not
    // be kept (it is still used for this run).
    bool keep(const Proposal& proposal, Clock::time_point now, std::string* error);

  private:
    void apply();
    void refuse(std::string why);

    SoundLevelMeter& meter_;
    fm::platform::CalibrationStore& store_;
    std::optional<double> offset_;
    std::string date_;
    double referenceDb_ = 94.0;
    std::string micFileName_;
    std::optional<double> micFileOffsetDb_;
    // The K measurement under way.
    std::optional<SoundLevelSnapshot> start_;
    std::vector<double> startBands_;
    double lowestLZF_ = 0.0, highestLZF_ = 0.0;
    std::string refusal_;
};

// "2026-12-08T10:15:00Z"
std::string utcDateText(Calibration::Clock::time_point time);

}  // namespace fm::measure
