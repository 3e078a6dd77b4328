#include "report/MetricsText.h"

#include <cmath>
#include <map>
#include <vector>

#include "measure/DayEveningNight.h"
#include "measure/MicCorrection.h"
#include "report/NumberText.h"

namespace fm::report {

namespace {

using fm::measure::Interval;
using fm::measure::Quantity;
using fm::measure::Statistic;

// A label value with backslash, double quote and line feed escaped.
std::string labelValue(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : validUtf8(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + labelValue(value) + "\"";
}

struct Family {
    std::string name, type, help;
    std::vector<std::pair<std::string, double>> samples;  // extra labels, value
};

class Exposition {
  public:
    explicit Exposition(const std::string& meterName) : meter_(label("meter", meterName)) {}

    Family& family(const std::string& name, const char* type, const char* help) {
        auto [at, fresh] = index_.try_emplace(name, families_.size());
        if (fresh) {
            families_.push_back({name, type, help, {}});
        }
        return families_[at->second];
    }
    // A value that is no number, or none a meter can make, is left out: never written as one.
    void sample(const std::string& name, const char* type, const char* help,
                const std::string& labels, double value) {
        if (std::isfinite(value) && std::fabs(value) <= kLargestFixed) {
            family(name, type, help).samples.emplace_back(labels, value);
        }
    }

    std::string text() const {
        std::string out;
        for (const Family& f : families_) {
            if (f.samples.empty()) {
                continue;
            }
            out += "# HELP " + f.name + ' ' + f.help + '\n';
            out += "# TYPE " + f.name + ' ' + f.type + '\n';
            for (const auto& [labels, value] : f.samples) {
                out += f.name + '{' + meter_ + (labels.empty() ? "" : "," + labels) + "} " +
                       shortestText(value) + '\n';
            }
        }
        return out;
    }

  private:
    std::string meter_;
    std::vector<Family> families_;
    std::map<std::string, std::size_t> index_;
};

const char* timeWeightingName(fm::measure::TimeWeighting t) {
    return t == fm::measure::TimeWeighting::Slow ? "slow" : "fast";
}

const char* intervalLabel(Interval interval) {
    return interval == Interval::Period ? "period" : fm::measure::intervalName(interval);
}

std::string bandHz(int band) {
    return shortestText(fm::measure::bandNominalHz(band));
}

void levelSample(Exposition& out, const Quantity& q, double value, const MeterReading& r) {
    const std::string w = label("weighting", std::string(1, q.weighting));
    const std::string tw = label("time_weighting", timeWeightingName(q.timeWeighting));
    std::string in = label("interval", intervalLabel(q.interval));
    if (q.interval == Interval::Period && !r.period.empty()) {
        in += "," + label("period", r.period);
    }
    const char* g = "gauge";
    switch (q.statistic) {
        case Statistic::TimeWeighted:
            if (q.band >= 0) {
                out.sample("fieldmeter_band_level_db", g,
                           "Current time-weighted Z level of a third-octave band in dB.",
                           label("band_hz", bandHz(q.band)) + "," + tw, value);
            } else {
                out.sample("fieldmeter_sound_level_db", g,
                           "Current time-weighted sound level in dB (dBFS while "
                           "fieldmeter_calibrated is 0).",
                           w + "," + tw, value);
            }
            break;
        case Statistic::Equivalent:
            if (q.band >= 0) {
                out.sample("fieldmeter_band_leq_db", g,
                           "Equivalent Z level of a third-octave band in dB over the last "
                           "second, the run or the last period.",
                           label("band_hz", bandHz(q.band)) + "," + in, value);
            } else {
                out.sample("fieldmeter_sound_leq_db", g,
                           "Equivalent continuous sound level in dB over the last second, the "
                           "run, the last period or the last event.",
                           w + "," + in, value);
            }
            break;
        case Statistic::Maximum:
            out.sample("fieldmeter_sound_max_db", g,
                       "Largest A-weighted fast sound level in dB over the last second, the "
                       "run, the last period or the last event.",
                       w + "," + tw + "," + in, value);
            break;
        case Statistic::Minimum:
            out.sample("fieldmeter_sound_min_db", g,
                       "Smallest A-weighted fast sound level in dB (sampled every 100 ms) over "
                       "the last second, the run or the last period.",
                       w + "," + tw + "," + in, value);
            break;
        case Statistic::Peak:
            out.sample("fieldmeter_sound_peak_db", g,
                       "Largest C-weighted peak in dB over the last second, the run, the "
                       "last period or the last event.",
                       w + "," + in, value);
            break;
        case Statistic::Exceeded:
            out.sample("fieldmeter_sound_exceeded_db", g,
                       "The A-weighted fast level exceeded for the given percent of the time "
                       "(LA10, LA50, LA90, LA95) in dB, over the run or the last period.",
                       w + "," + tw + "," + label("percent", std::to_string(q.percent)) + "," + in,
                       value);
            break;
        case Statistic::DayPart: {
            static const char* const kParts[] = {"day", "evening", "night", "den"};
            out.sample("fieldmeter_day_level_db", g,
                       "Lday (07-19), Levening (19-23), Lnight (23-07) and Lden of the last whole "
                       "local day in dB.",
                       label("part", kParts[q.percent & 3]), value);
            break;
        }
    }
}

}  // namespace

std::string validUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        std::size_t length = 0;
        std::uint32_t lowest = 0;
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            lowest = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            lowest = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            lowest = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        std::uint32_t code = length > 0 ? c & (0x7Fu >> length) : 0;
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (s[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (s[i + k] & 0x3Fu);
        }
        // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8 either.
        valid = valid && code >= lowest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string metricsLabelValue(const std::string& text) {
    return labelValue(text);
}

std::string prometheusText(const std::string& meterName, const MeterReading& r) {
    Exposition out(meterName);
    const bool measuring = fm::measure::hasLevels(r.input);
    out.sample("fieldmeter_input_up", "gauge",
               "1 while the meter measures an input (mic, file or the demo signal, named by "
               "the input label), 0 while it has none (ended, lost or none).",
               label("input", fm::measure::inputKindName(r.input)), measuring ? 1.0 : 0.0);
    for (const Quantity& q : fm::measure::quantities()) {
        if (const auto value = fm::measure::valueOf(q, r.view)) {
            levelSample(out, q, *value, r);
        }
    }
    const fm::measure::SoundLevelSnapshot* now = r.view.now;
    if (now != nullptr) {
        out.sample("fieldmeter_calibrated", "gauge",
                   "1 when the levels are calibrated dB, 0 when they are dBFS.", "",
                   now->calibrated ? 1.0 : 0.0);
        out.sample("fieldmeter_calibration_offset_db", "gauge",
                   "The dB added to every level: what a full-scale sine (0 dBFS) reads.", "",
                   now->calibrationOffsetDb);
        const std::string& correction = fm::measure::micCorrectionInUse();
        out.sample("fieldmeter_mic_correction", "gauge",
                   "1 with the microphone's correction file in use (label file), 0 without.",
                   correction.empty() ? "" : label("file", correction), correction.empty() ? 0 : 1);
        out.sample("fieldmeter_overloaded", "gauge",
                   "1 while the last whole second had samples at or beyond full scale.", "",
                   measuring && now->overloadSamples1s > 0 ? 1.0 : 0.0);
        out.sample("fieldmeter_overload_samples_total", "counter",
                   "Samples at or beyond full scale since the meter started.", "",
                   static_cast<double>(now->overloadSamples));
        out.sample("fieldmeter_frames_captured_total", "counter",
                   "Audio frames analysed since the meter started.", "",
                   static_cast<double>(now->framesCaptured));
    }
    if (r.rawLevel) {
        out.sample("fieldmeter_raw_level", "gauge",
                   "The raw level (the big read-out by default): RMS of the samples times the "
                   "gain, minus the base level.",
                   "", *r.rawLevel);
    }
    out.sample("fieldmeter_recorder_frames_dropped_total", "counter",
               "Frames the recorder dropped since the meter started because its queue was full.",
               "", static_cast<double>(r.framesDropped));
    out.sample("fieldmeter_measurement_frames_dropped_total", "counter",
               "Frames the measurement could not take since the meter started (its queue was "
               "full).",
               "", static_cast<double>(r.measurementFramesDropped));
    out.sample("fieldmeter_lost_frames_total", "counter",
               "Input frames lost since the meter started, wherever: the measurement's queue was "
               "full, or the audio interface overflowed. Each second's own are in the log.",
               "", static_cast<double>(r.lostFrames));
    out.sample("fieldmeter_clock_steps_total", "counter",
               "Steps of the wall clock (by a second or more, against the monotonic clock) seen "
               "since the meter started.",
               "", static_cast<double>(r.clockSteps));
    out.sample("fieldmeter_clock_last_step_seconds", "gauge",
               "The size of the last step of the wall clock, signed (0 before any).", "",
               r.lastClockStepSeconds);
    out.sample("fieldmeter_events_total", "counter",
               "Loud moments captured as events since the meter started.", "",
               static_cast<double>(r.eventsTotal));
    for (const auto& limit : r.limits) {
        const std::string name = label("limit", limit.name);
        out.sample("fieldmeter_limit_exceeded", "gauge",
                   "1 while an episode of the limit is under way (raised, not yet cleared).", name,
                   limit.raised ? 1.0 : 0.0);
        out.sample("fieldmeter_limit_episodes_total", "counter",
                   "Episodes of the limit since the meter started, alerted or not.", name,
                   static_cast<double>(limit.episodes));
        out.sample("fieldmeter_limit_seconds_over_total", "counter",
                   "Seconds in which the limit held since the meter started.", name,
                   static_cast<double>(limit.secondsOver));
    }
    return out.text();
}

}  // namespace fm::report
