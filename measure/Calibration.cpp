#include "measure/Calibration.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "measure/Decibels.h"
#include "measure/SoundLevels.h"

namespace fm::measure {

namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return n > 0 && n < static_cast<int>(sizeof text)
               ? std::string(text, static_cast<std::size_t>(n))
               : std::string("?");
}

// Formatted in one go: GCC 12 at -O3 warns falsely (-Wrestrict) on "+" + a std::string, and
// warnings are errors.
std::string signedDb(double value) {
    std::string text(value >= 0.0 ? "+" : "");
    text += fixed(value, 1);
    text += " dB";
    return text;
}

bool plausibleOffset(double db) {
    return std::isfinite(db) && db >= Calibration::kMinOffsetDb && db <= Calibration::kMaxOffsetDb;
}

std::string limitsText() {
    return "between " + fixed(Calibration::kMinOffsetDb, 0) + " and " +
           fixed(Calibration::kMaxOffsetDb, 0) + " dB";
}

// The day of an ISO 8601 date, "2026-12-01" of "2026-12-01T09:30:00Z".
std::string dayOf(const std::string& date) {
    return date.substr(0, std::min<std::size_t>(date.size(), 10));
}

// A value from the settings file as a message shows it: on one line, and cut (on a character's
// boundary) where it would flood the terminal.
std::string shownValue(const std::string& value) {
    constexpr std::size_t kMost = 40;
    std::string shown = value;
    if (shown.size() > kMost) {
        std::size_t cut = kMost;
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        shown = shown.substr(0, cut) + "...";
    }
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return c >= 0 && c < ' '; }, '?');
    return shown;
}

}  // namespace

std::string utcDateText(Calibration::Clock::time_point time) {
    const std::time_t t = Calibration::Clock::to_time_t(time);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, n);
}

Calibration::Calibration(SoundLevelMeter& meter, fm::platform::CalibrationStore& store)
    : meter_(meter), store_(store) {}

std::vector<std::string> Calibration::setUp(bool forget, std::optional<double> runOffsetDb,
                                            double referenceDb) {
    std::vector<std::string> said;
    referenceDb_ = referenceDb;
    offset_.reset();
    date_.clear();
    if (forget) {
        const auto kept = store_.load();
        std::string error;
        if (!store_.forget(&error)) {
            said.push_back("cannot forget the calibration: " + error);
        } else if (kept) {
            said.push_back("the calibration kept in " + store_.where() +
                           " is forgotten (it was 0 dBFS = " + kept->offsetDb + " dB, set on " +
                           kept->date + ")");
        } else {
            said.push_back("no calibration was kept; the levels are dBFS");
        }
    }
    if (runOffsetDb) {
        offset_ = *runOffsetDb;
        said.push_back("calibration for this run: 0 dBFS = " + fixed(*runOffsetDb, 1) + " dB");
    } else if (!forget) {
        if (const auto kept = store_.load()) {
            char* end = nullptr;
            errno = 0;
            const double db = std::strtod(kept->offsetDb.c_str(), &end);
            const bool number = !kept->offsetDb.empty() && errno == 0 &&
                                end == kept->offsetDb.c_str() + kept->offsetDb.size();
            if (!number) {
                said.push_back("the calibration in " + store_.where() +
                               " is ignored: offsetDb=" + shownValue(kept->offsetDb) +
                               " is not a number; the levels are dBFS");
            } else if (!plausibleOffset(db)) {
                said.push_back("the calibration in " + store_.where() +
                               " is ignored: offsetDb=" + shownValue(kept->offsetDb) + " is not " +
                               limitsText() + "; the levels are dBFS");
            } else {
                offset_ = db;
                date_ = kept->date;
                said.push_back("calibrated on " + (date_.empty() ? "an unknown date" : date_) +
                               ": 0 dBFS = " + fixed(db, 1) + " dB");
            }
        }
    }
    if (!offset_ && micFileOffsetDb_) {
        if (plausibleOffset(*micFileOffsetDb_)) {
            offset_ = micFileOffsetDb_;
            said.push_back("calibrated from the microphone's file " + micFileName_ +
                           ": 0 dBFS = " + fixed(*micFileOffsetDb_, 1) + " dB");
        } else {
            said.push_back("the sensitivity in the microphone's file " + micFileName_ +
                           " is ignored: 0 dBFS = " + fixed(*micFileOffsetDb_, 1) + " dB is not " +
                           limitsText() + "; the levels are dBFS");
        }
    }
    apply();
    return said;
}

void Calibration::apply() {
    meter_.setCalibration(offset_.value_or(0.0), offset_.has_value());
}

void Calibration::refuse(std::string why) {
    refusal_ = std::move(why);
    start_.reset();
}

std::string Calibration::start(InputKind input, const SoundLevelSnapshot& now,
                               const std::vector<double>& bandEnergies) {
    if (start_) {
        return "a calibration is under way";
    }
    if (!hasLevels(input)) {
        return "no input";
    }
    if (input == InputKind::Demo) {
        return "the demo signal is not sound: calibrate from a microphone";
    }
    refusal_.clear();
    start_ = now;
    startBands_ = bandEnergies;
    lowestLZF_ = highestLZF_ = now.LZF - now.calibrationOffsetDb;
    return {};
}

double Calibration::measuredSeconds(const SoundLevelSnapshot& now) const {
    if (!start_) {
        return 0.0;
    }
    return static_cast<double>(now.framesCaptured - start_->framesCaptured) / meter_.sampleRate();
}

std::optional<Calibration::Proposal> Calibration::tick(InputKind input,
                                                       const SoundLevelSnapshot& now,
                                                       const std::vector<double>& bandEnergies) {
    if (!start_) {
        return std::nullopt;
    }
    if (!hasLevels(input) || input == InputKind::Demo) {
        refuse("the input stopped; the calibration stays as it was");
        return std::nullopt;
    }
    const double lzf = now.LZF - now.calibrationOffsetDb;
    lowestLZF_ = std::min(lowestLZF_, lzf);
    highestLZF_ = std::max(highestLZF_, lzf);
    if (measuredSeconds(now) < kSeconds) {
        return std::nullopt;
    }
    const SoundLevelSnapshot from = *start_;
    const double frames = static_cast<double>(now.framesCaptured - from.framesCaptured);
    const double zEnergy = now.sumSquaresZ - from.sumSquaresZ;
    const double dbfs = meanSquareToDb(zEnergy / frames);
    if (dbfs < kMinLevelDbfs) {
        refuse("too quiet: the reference read " + fixed(dbfs, 1) + " dBFS, below " +
               fixed(kMinLevelDbfs, 0) + " dBFS; the calibration stays as it was");
        return std::nullopt;
    }
    if (highestLZF_ - lowestLZF_ > kMaxMovementDb) {
        refuse("not steady: the level moved by " + fixed(highestLZF_ - lowestLZF_, 1) +
               " dB in the " + fixed(kSeconds, 0) + " s (at most " + fixed(kMaxMovementDb, 1) +
               "); the calibration stays as it was");
        return std::nullopt;
    }
    double loudest = 0.0;
    for (std::size_t b = 0; b < bandEnergies.size() && b < startBands_.size(); ++b) {
        loudest = std::max(loudest, bandEnergies[b] - startBands_[b]);
    }
    const double share = zEnergy > 0.0 ? loudest / zEnergy : 0.0;
    if (share < kMinBandShare) {
        refuse("not a calibrator's tone: only " + fixed(share * 100.0, 0) +
               " % of the sound lies in one third-octave band (at least " +
               fixed(kMinBandShare * 100.0, 0) + " %); the calibration stays as it was");
        return std::nullopt;
    }
    Proposal p;
    p.measuredDbfs = dbfs;
    p.offsetDb = referenceDb_ - dbfs;
    start_.reset();
    if (!plausibleOffset(p.offsetDb)) {
        refuse("the result, 0 dBFS = " + fixed(p.offsetDb, 1) + " dB, is not " + limitsText() +
               "; the calibration stays as it was");
        return std::nullopt;
    }
    p.summary = "0 dBFS = " + fixed(p.offsetDb, 2) + " dB (the " + fixed(referenceDb_, 1) +
                " dB reference read " + fixed(dbfs, 2) + " dBFS)";
    if (offset_) {
        p.previousOffsetDb = offset_;
        p.previousDate = date_;
        const double change = p.offsetDb - *offset_;
        p.driftFlagged = std::fabs(change) > kDriftFlagDb;
        p.drift = signedDb(change) + " since " +
                  (date_.empty() ? std::string("this run's --calibration") : dayOf(date_));
        if (p.driftFlagged) {
            p.drift += " - more than " + fixed(kDriftFlagDb, 1) +
                       " dB: check the microphone and the calibrator";
        }
    }
    return p;
}

bool Calibration::keep(const Proposal& proposal, Clock::time_point now, std::string* error) {
    offset_ = proposal.offsetDb;
    date_ = utcDateText(now);
    apply();
    return store_.save({fixed(proposal.offsetDb, 2), date_}, error);
}

}  // namespace fm::measure
