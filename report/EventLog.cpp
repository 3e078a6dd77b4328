#include "report/EventLog.h"

#include "measure/Quantities.h"
#include "report/LevelLog.h"
#include "report/NumberText.h"

namespace fm::report {

std::string eventLogHeader() {
    std::string header = "start_utc,end_utc,duration_s,trigger";
    for (const auto& q : fm::measure::quantities()) {
        if (q.interval == fm::measure::Interval::Event) {
            header += "," + q.key.substr(0, q.key.find("_event")) + "_dB";
        }
    }
    return header + ",calibrated,clip,kept,overload\n";
}

std::string eventLogRow(const EventSummary& event) {
    std::string row =
        utcTimeWithMilliseconds(event.start) + "," + utcTimeWithMilliseconds(event.end) + ",";
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
    row += event.clip + (event.kept ? ",1," : ",0,");
    row += std::to_string(event.values.overloadSamples) + "\n";
    return row;
}

}  // namespace fm::report
