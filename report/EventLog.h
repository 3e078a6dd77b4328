#pragma once
// The loud moments caught: one row of events/events.csv for each event as it ends, and the
// summary of an event that the main thread keeps for the live page. The levels' columns are
// written from the measured quantities' description (the Event interval). Qt-free.
#include <chrono>
#include <string>

#include "measure/EventDetector.h"
#include "measure/EventValues.h"

namespace fm::report {

struct EventSummary {
    std::chrono::system_clock::time_point start;  // its first trigger tick's start
    std::chrono::system_clock::time_point end;    // the end of its post-roll
    fm::measure::EventTrigger trigger = fm::measure::EventTrigger::LAF;
    // Its levels, with the calibration in effect when it ended: read them through
    // fm::measure::valueOf with MeasurementView::event pointing here.
    fm::measure::EventValues values;
    std::string clip;  // the clip's file name beside events.csv; "" when none was kept
    bool kept = false;
    double clipWrittenSeconds = 0.0;  // of its clip that reached the disk (all of a kept one)
    std::string whyNotKept;           // "" when kept
};

// start_utc,end_utc,start_local,end_local,duration_s,trigger,LAFmax_dB,LAeq_dB,LCpeak_dB,
// calibrated,clip,kept,clip_written_s,why_not_kept and a line feed.
std::string eventLogHeader();
// One row, ending in a line feed.
std::string eventLogRow(const EventSummary& event);

}  // namespace fm::report
