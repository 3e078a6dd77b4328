#include "report/DeliveryMessages.h"

#include "measure/Quantities.h"
#include "report/JsonText.h"
#include "report/LevelLog.h"

namespace fm::report {

using fm::measure::Interval;
using fm::measure::MeasurementView;

namespace {

// `"key":value` for every quantity of the interval, read through the view.
void appendQuantities(std::string* out, Interval interval, const MeasurementView& view) {
    for (const auto& q : fm::measure::quantities()) {
        if (q.interval != interval) {
            continue;
        }
        out->push_back(',');
        appendJsonString(out, q.key);
        out->push_back(':');
        appendJsonNumber(out, fm::measure::valueOf(q, view), 2);
    }
}

void appendField(std::string* out, const char* name, std::string_view text) {
    out->push_back(',');
    appendJsonString(out, name);
    out->push_back(':');
    appendJsonString(out, text);
}

void appendCalibration(std::string* out, bool calibrated, double offsetDb) {
    *out += calibrated ? ",\"calibrated\":true" : ",\"calibrated\":false";
    *out += ",\"calibration_offset_db\":";
    appendJsonNumber(out, offsetDb, 2);
}

std::string start(const std::string& meterName) {
    std::string out = "{\"meter\":";
    appendJsonString(&out, meterName);
    return out;
}

}  // namespace

std::string secondMessage(const fm::measure::SecondRecord& second, std::uint64_t seq,
                          const std::string& meterName) {
    std::string out = start(meterName);
    appendField(&out, "time_utc", utcTimeWithMilliseconds(second.closedAt));
    out += ",\"seq\":" + std::to_string(seq);
    appendField(&out, "input", fm::measure::inputKindName(second.input));
    appendCalibration(&out, second.calibrated, second.calibrationOffsetDb);
    out += ",\"overload\":" + std::to_string(second.overloadSamples);
    MeasurementView view;
    view.second = &second;
    appendQuantities(&out, Interval::Second, view);
    out.push_back('}');
    return out;
}

std::string periodMessage(const fm::measure::PeriodValues& period, const std::string& meterName) {
    std::string out = start(meterName);
    appendField(&out, "start_utc", utcTimeWithMilliseconds(period.start));
    appendField(&out, "end_utc", utcTimeWithMilliseconds(period.end));
    out += period.complete ? ",\"complete\":true" : ",\"complete\":false";
    out += ",\"measured_s\":" + std::to_string(period.measuredSeconds);
    out += ",\"no_input_s\":" + std::to_string(period.noInputSeconds);
    out += ",\"overload_s\":" + std::to_string(period.overloadSeconds);
    appendCalibration(&out, period.calibrated, period.calibrationOffsetDb);
    MeasurementView view;
    view.period = &period;
    appendQuantities(&out, Interval::Period, view);
    out.push_back('}');
    return out;
}

std::string dayMessage(const fm::measure::DayValues& day, const std::string& meterName) {
    std::string out = start(meterName);
    appendField(&out, "date", day.date);
    for (const auto& [name, coverage] : {std::pair{"day_coverage", day.dayCoverage},
                                         std::pair{"evening_coverage", day.eveningCoverage},
                                         std::pair{"night_coverage", day.nightCoverage}}) {
        out += ",\"" + std::string(name) + "\":";
        appendJsonNumber(&out, coverage, 4);
    }
    appendCalibration(&out, day.calibrated, day.calibrationOffsetDb);
    MeasurementView view;
    view.day = &day;
    appendQuantities(&out, Interval::Day, view);
    out.push_back('}');
    return out;
}

std::string eventMessage(const EventSummary& event, const std::string& meterName,
                         const std::string& clipUrl) {
    std::string out = start(meterName);
    appendField(&out, "start_utc", utcTimeWithMilliseconds(event.start));
    appendField(&out, "end_utc", utcTimeWithMilliseconds(event.end));
    appendField(&out, "trigger", fm::measure::eventTriggerName(event.trigger));
    appendCalibration(&out, event.values.calibrated, event.values.calibrationOffsetDb);
    MeasurementView view;
    view.event = &event.values;
    appendQuantities(&out, Interval::Event, view);
    out += event.kept ? ",\"kept\":true" : ",\"kept\":false";
    appendField(&out, "clip", event.clip);
    if (!clipUrl.empty()) {
        appendField(&out, "clip_url", clipUrl);
    }
    out.push_back('}');
    return out;
}

std::vector<std::pair<std::string, double>> secondFields(const fm::measure::SecondRecord& second) {
    std::vector<std::pair<std::string, double>> fields;
    MeasurementView view;
    view.second = &second;
    for (const auto& q : fm::measure::quantities()) {
        if (q.interval != Interval::Second) {
            continue;
        }
        if (const auto value = fm::measure::valueOf(q, view)) {
            fields.emplace_back(q.key, *value);
        }
    }
    return fields;
}

}  // namespace fm::report
