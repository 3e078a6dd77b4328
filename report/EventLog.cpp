#include "report/EventLog.h"

#include "measure/Quantities.h"
#include "report/LevelLog.h"
#include "report/NumberText.h"

namespace fm::report {

namespace {

// Quoted when it holds a comma, a quote or a line end (RFC 4180).
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

}  // namespace

std::string eventLogHeader() {
    std::string header = "start_utc,end_utc,start_local,end_local,duration_s,trigger";
    for (const auto& q : fm::measure::quantities()) {
        if (q.interval == fm::measure::Interval::Event) {
            header += "," + q.key.substr(0, q.key.find("_event")) + "_dB";
        }
    }
    header += ",calibrated,clip,kept";
    header += ",clip_written_s,why_not_kept";
    return header + "\n";
}

std::string eventLogRow(const EventSummary& event) {
    std::string row =
        utcTimeWithMilliseconds(event.start) + "," + utcTimeWithMilliseconds(event.end) + ",";
    row +=
        localTimeWithMilliseconds(event.start) + "," + localTimeWithMilliseconds(event.end) + ",";
    appendFixed(&row, std::chrono::duration<double>(event.end - event.start).count(), 3);
    row += ",";
    row += fm::measure::eventTriggerName(event.trigger);
    fm::measure::MeasurementView view;
    view.event = &event.values;
    for (const auto& q : fm::measure::quantities()) {
        if (q.interval == fm::measure::Interval::Event) {
            row += ',';
            appendFixed(&row, fm::measure::valueOf(q, view), 2);
        }
    }
    row += event.values.calibrated ? ",1," : ",0,";
    row += event.clip + (event.kept ? ",1" : ",0");
    row += ',';
    appendFixed(&row, event.clipWrittenSeconds, 3);
    row += ',' + csvField(event.whyNotKept);
    return row + "\n";
}

}  // namespace fm::report
