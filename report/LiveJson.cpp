#include "report/LiveJson.h"

#include <cmath>

#include "measure/Decibels.h"
#include "measure/MicCorrection.h"
#include "report/AlertJson.h"
#include "report/JsonText.h"
#include "report/LevelLog.h"

namespace fm::report {

namespace {

using fm::measure::Quantity;

// A full-scale sine centred in a band: its bin holds |2X| = N = 2048 in the packed transform,
// and the band's pair sums count that bin twice, halved twice: 0.5 * 2048^2.
constexpr double kSpectrumFullScalePower = 0.5 * 2048.0 * 2048.0;
constexpr int kSpectrumPoints = 2048;

std::int64_t millisecondsOf(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

const char* unitOf(bool calibrated) {
    return calibrated ? "dB" : "dBFS";
}

const char* statisticName(fm::measure::Statistic s) {
    using S = fm::measure::Statistic;
    switch (s) {
        case S::TimeWeighted:
            return "level";
        case S::Equivalent:
            return "leq";
        case S::Maximum:
            return "max";
        case S::Minimum:
            return "min";
        case S::Peak:
            return "peak";
        case S::Exceeded:
            return "exceeded";
        case S::DayPart:
            return "day-part";
    }
    return "level";
}

const char* timeWeightingName(fm::measure::TimeWeighting t) {
    using T = fm::measure::TimeWeighting;
    return t == T::Fast ? "fast" : t == T::Slow ? "slow" : "none";
}

void field(std::string* out, const char* name) {
    if (out->back() != '{') {
        out->push_back(',');
    }
    appendJsonString(out, name);
    out->push_back(':');
}

void stringField(std::string* out, const char* name, std::string_view value) {
    field(out, name);
    appendJsonString(out, value);
}

void numberField(std::string* out, const char* name, const std::optional<double>& value,
                 int decimals) {
    field(out, name);
    appendJsonNumber(out, value, decimals);
}

void integerField(std::string* out, const char* name, long long value) {
    field(out, name);
    out->append(std::to_string(value));
}

void boolField(std::string* out, const char* name, bool value) {
    field(out, name);
    out->append(value ? "true" : "false");
}

void trendSecondJson(std::string* out, const TrendSecond& s) {
    out->push_back('{');
    integerField(out, "index", static_cast<long long>(s.index));
    integerField(out, "endMs", s.endMs);
    stringField(out, "unit", unitOf(s.calibrated));
    numberField(out, "LAeq_1s", s.LAeq1s, 2);
    field(out, "LAF");
    out->push_back('[');
    for (std::size_t i = 0; i < s.LAF.size(); ++i) {
        if (i > 0) {
            out->push_back(',');
        }
        appendJsonNumber(out, s.LAF[i], 2);
    }
    out->append("]}");
}

// What both the full reading and the stream's events begin with.
void commonFields(std::string* out, const LiveReading& r) {
    const fm::measure::SoundLevelSnapshot* now = r.view.now;
    const bool calibrated = now != nullptr && now->calibrated;
    stringField(out, "meter", r.meterName);
    stringField(out, "time", utcTimeWithMilliseconds(r.time));
    integerField(out, "timeMs", millisecondsOf(r.time));
    integerField(out, "startedMs", millisecondsOf(r.started));

    field(out, "input");
    out->push_back('{');
    stringField(out, "state", fm::measure::inputKindName(r.input));
    boolField(out, "measuring", fm::measure::hasLevels(r.input));
    stringField(out, "text", inputStateText(r.input));
    out->push_back('}');

    field(out, "calibration");
    out->push_back('{');
    boolField(out, "calibrated", calibrated);
    stringField(out, "unit", unitOf(calibrated));
    numberField(out, "offsetDb",
                calibrated ? std::optional(now->calibrationOffsetDb) : std::nullopt, 2);
    field(out, "date");
    if (calibrated && !r.calibrationDate.empty()) {
        appendJsonString(out, r.calibrationDate);
    } else {
        out->append("null");
    }
    field(out, "micCorrection");
    if (const std::string& file = fm::measure::micCorrectionInUse(); !file.empty()) {
        appendJsonString(out, file);
    } else {
        out->append("null");
    }
    out->push_back('}');

    field(out, "overload");
    out->push_back('{');
    const long long lastSecond =
        now != nullptr ? static_cast<long long>(now->overloadSamples1s) : 0;
    const long long sinceStart = now != nullptr ? static_cast<long long>(now->overloadSamples) : 0;
    boolField(out, "lastSecond", lastSecond > 0);
    integerField(out, "lastSecondSamples", lastSecond);
    boolField(out, "sinceStart", sinceStart > 0);
    integerField(out, "sinceStartSamples", sinceStart);
    out->push_back('}');

    // Audio lost (in the last second and since the start) and steps of the wall clock.
    field(out, "lost");
    out->push_back('{');
    const fm::measure::SecondRecord* second = r.view.second;
    integerField(out, "lastSecondFrames",
                 second != nullptr ? static_cast<long long>(second->lostFrames) : 0);
    integerField(out, "sinceStartFrames", static_cast<long long>(r.lostFrames));
    numberField(out, "clockStepS",
                second != nullptr ? std::optional(second->clockStepSeconds) : std::nullopt, 3);
    integerField(out, "clockSteps", static_cast<long long>(r.clockSteps));
    out->push_back('}');

    if (r.direction != nullptr) {
        field(out, "direction");
        out->push_back('{');
        numberField(out, "sectorDegrees", kDirectionSectorDegrees, 0);
        stringField(out, "unit", unitOf(calibrated));
        field(out, "LAeq");
        out->push_back('[');
        for (int s = 0; s < kDirectionSectors; ++s) {
            if (s > 0) {
                out->push_back(',');
            }
            appendJsonNumber(out, r.direction->LAeq(s), 1);
        }
        out->append("]");
        field(out, "seconds");
        out->push_back('[');
        for (int s = 0; s < kDirectionSectors; ++s) {
            if (s > 0) {
                out->push_back(',');
            }
            out->append(std::to_string(r.direction->seconds(s)));
        }
        out->append("]}");
    }
    if (r.lastSecond) {
        field(out, "second");
        trendSecondJson(out, *r.lastSecond);
    }
    field(out, "limits");
    appendLimitStatesJson(out, r.limits);
}

void spectrumJson(std::string* out, const LiveReading& r, bool withFrequencies) {
    if (r.spectrum.empty()) {
        return;
    }
    const fm::measure::SoundLevelSnapshot* now = r.view.now;
    const bool calibrated = now != nullptr && now->calibrated;
    const double offset = calibrated ? now->calibrationOffsetDb : 0.0;
    const bool measuring = fm::measure::hasLevels(r.input);
    field(out, "spectrum");
    out->push_back('{');
    stringField(out, "unit", unitOf(calibrated));
    if (withFrequencies) {
        field(out, "centreHz");
        out->push_back('[');
        for (std::size_t k = 0; k < r.spectrum.size(); ++k) {
            if (k > 0) {
                out->push_back(',');
            }
            appendJsonNumber(out, spectrumCentreHz(static_cast<int>(k), r.sampleRate), 1);
        }
        out->push_back(']');
    }
    field(out, "dB");
    out->push_back('[');
    for (std::size_t k = 0; k < r.spectrum.size(); ++k) {
        if (k > 0) {
            out->push_back(',');
        }
        // Without input the spectrum holds the last block heard: not a measurement now.
        appendJsonNumber(
            out, measuring ? std::optional(spectrumBandDb(r.spectrum[k], offset)) : std::nullopt,
            1);
    }
    out->append("]}");
}

}  // namespace

const char* inputStateText(fm::measure::InputKind input) {
    using K = fm::measure::InputKind;
    switch (input) {
        case K::Mic:
            return "measuring the microphone";
        case K::File:
            return "measuring an audio file";
        case K::Demo:
            return "the demo signal: levels, but no measurement of sound";
        case K::Ended:
            return "no input: the input file played to its end";
        case K::Lost:
            return "no input: the microphone was lost (tried again every 5 s)";
        case K::None:
            return "no input: none could be started";
    }
    return "no input";
}

double spectrumCentreHz(int band, double sampleRate) {
    return (2.0 * band + 1.0) * sampleRate / kSpectrumPoints;
}

double spectrumBandDb(float power, double offsetDb) {
    const double p = static_cast<double>(power);
    if (!(p > 0.0) || !std::isfinite(p)) {
        return fm::measure::kLevelFloorDb;
    }
    return std::max(10.0 * std::log10(p / kSpectrumFullScalePower) + offsetDb,
                    fm::measure::kLevelFloorDb);
}

std::string liveNowJson(const LiveReading& r) {
    std::string out = "{";
    commonFields(&out, r);
    field(&out, "quantities");
    out.push_back('[');
    bool first = true;
    for (const Quantity& q : fm::measure::quantities()) {
        if (!first) {
            out.push_back(',');
        }
        first = false;
        out.push_back('{');
        stringField(&out, "key", q.key);
        stringField(&out, "symbol", q.symbol);
        stringField(&out, "unit", unitOf(fm::measure::calibratedOf(q, r.view)));
        stringField(&out, "statistic", statisticName(q.statistic));
        stringField(&out, "weighting", std::string(1, q.weighting));
        stringField(&out, "timeWeighting", timeWeightingName(q.timeWeighting));
        stringField(&out, "interval", fm::measure::intervalName(q.interval));
        numberField(&out, "bandHz",
                    q.band >= 0 ? std::optional(fm::measure::bandNominalHz(q.band)) : std::nullopt,
                    1);
        numberField(&out, "value", fm::measure::valueOf(q, r.view), 2);
        out.push_back('}');
    }
    out.push_back(']');
    spectrumJson(&out, r, true);
    out.push_back('}');
    return out;
}

std::string liveStreamJson(const LiveReading& r) {
    std::string out = "{";
    commonFields(&out, r);
    // Grouped by unit: each value says what it is in without a unit beside every one.
    for (const bool calibrated : {true, false}) {
        field(&out, unitOf(calibrated));
        out.push_back('{');
        for (const Quantity& q : fm::measure::quantities()) {
            if (fm::measure::calibratedOf(q, r.view) == calibrated) {
                numberField(&out, q.key.c_str(), fm::measure::valueOf(q, r.view), 2);
            }
        }
        out.push_back('}');
    }
    spectrumJson(&out, r, false);
    out.push_back('}');
    return out;
}

std::string levelTrendJson(const std::vector<TrendSecond>& seconds) {
    std::string out = "{\"seconds\":[";
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        trendSecondJson(&out, seconds[i]);
    }
    out.append("]}");
    return out;
}

}  // namespace fm::report
