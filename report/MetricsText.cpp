#include "report/MetricsText.h"

#include <charconv>
#include <cmath>
#include <initializer_list>

namespace fm::report {

namespace {

// A label value with backslash, double quote and line feed escaped.
std::string labelValue(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
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

// Shortest text that reads back as the same double, independent of the locale.
std::string number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

struct Sample {
    const char* labels;  // extra labels after the meter's, without braces
    double value;
};

class Exposition {
  public:
    explicit Exposition(const std::string& meterName)
        : meter_("meter=\"" + labelValue(meterName) + "\"") {}

    void family(const char* name, const char* type, const char* help,
                std::initializer_list<Sample> samples) {
        text_ += std::string("# HELP ") + name + ' ' + help + '\n';
        text_ += std::string("# TYPE ") + name + ' ' + type + '\n';
        for (const Sample& s : samples) {
            text_ += name;
            text_ += '{';
            text_ += meter_;
            if (*s.labels != '\0') {
                text_ += ',';
                text_ += s.labels;
            }
            text_ += "} ";
            text_ += number(s.value);
            text_ += '\n';
        }
    }
    std::string take() { return std::move(text_); }

  private:
    std::string meter_;
    std::string text_;
};

}  // namespace

std::string prometheusText(const std::string& meterName, const MeterReading& reading) {
    const measure::SoundLevelSnapshot& l = reading.levels;
    Exposition out(meterName);
    out.family("fieldmeter_sound_level_db", "gauge",
               "Current time-weighted sound level in dB (dBFS while fieldmeter_calibrated is 0).",
               {{"weighting=\"A\",time_weighting=\"fast\"", l.LAF},
                {"weighting=\"A\",time_weighting=\"slow\"", l.LAS},
                {"weighting=\"C\",time_weighting=\"fast\"", l.LCF},
                {"weighting=\"Z\",time_weighting=\"fast\"", l.LZF}});
    out.family("fieldmeter_sound_leq_db", "gauge",
               "Equivalent continuous sound level in dB over the last second or the whole run.",
               {{"weighting=\"A\",interval=\"1s\"", l.LAeq1s},
                {"weighting=\"C\",interval=\"1s\"", l.LCeq1s},
                {"weighting=\"Z\",interval=\"1s\"", l.LZeq1s},
                {"weighting=\"A\",interval=\"run\"", l.LAeq},
                {"weighting=\"C\",interval=\"run\"", l.LCeq}});
    out.family("fieldmeter_sound_max_db", "gauge",
               "Largest A-weighted fast sound level in dB over the last second or the whole run.",
               {{"weighting=\"A\",time_weighting=\"fast\",interval=\"1s\"", l.LAFmax1s},
                {"weighting=\"A\",time_weighting=\"fast\",interval=\"run\"", l.LAFmax}});
    out.family("fieldmeter_sound_peak_db", "gauge",
               "Largest C-weighted peak in dB over the last second or the whole run.",
               {{"weighting=\"C\",interval=\"1s\"", l.LCpeak1s},
                {"weighting=\"C\",interval=\"run\"", l.LCpeak}});
    out.family("fieldmeter_calibrated", "gauge",
               "1 when the levels are calibrated dB, 0 when they are dBFS.",
               {{"", l.calibrated ? 1.0 : 0.0}});
    out.family("fieldmeter_calibration_offset_db", "gauge",
               "The dB added to every level: what a full-scale sine (0 dBFS) reads.",
               {{"", l.calibrationOffsetDb}});
    out.family(
        "fieldmeter_raw_level", "gauge",
        "The raw level (the big read-out by default): RMS of the samples times the gain, minus the "
        "base level.",
        {{"", reading.rawLevel}});
    out.family("fieldmeter_frames_captured_total", "counter",
               "Audio frames analysed since the meter started.",
               {{"", static_cast<double>(l.framesCaptured)}});
    out.family("fieldmeter_recorder_frames_dropped_total", "counter",
               "Frames the recorder dropped since the meter started because its queue was full.",
               {{"", static_cast<double>(reading.framesDropped)}});
    return out.take();
}

}  // namespace fm::report
