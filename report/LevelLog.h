#pragma once
// The sound-level log: one CSV row for every second, its columns written from the measured
// quantities' description (measure/Quantities.h): the time the second closed, the second's
// levels, what the screen and the recorder add, where the sound came from, and the
// third-octave bands. Qt-free.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "measure/SecondRecord.h"

namespace fm::report {

// What a row holds beside the second's own values.
struct LevelLogExtras {
    // rmsValue: the raw level (the big read-out by default); none without the phone screen
    std::optional<double> rawLevel;
    std::optional<double> yawDegrees;  // the device's turn about the vertical axis
    std::uint64_t framesDropped = 0;   // frames the recorder dropped since the program started
    std::string limits = {};  // the names of the limits that held in the second, ';' between them
};

// The header row (names and units of the columns), ending in a line feed.
std::string levelLogHeader();
// One row, ending in a line feed; the dB fields are empty for a second without levels.
std::string levelLogRow(const fm::measure::SecondRecord& second, const LevelLogExtras& extras);
// ISO 8601 in UTC with milliseconds, e.g. "2026-12-07T23:50:17.123Z".
std::string utcTimeWithMilliseconds(std::chrono::system_clock::time_point time);
// ISO 8601 in the system's local time with its offset from UTC and milliseconds, e.g.
// "2026-12-08T00:50:17.123+01:00": what the clips and the page say, readable without a zone.
std::string localTimeWithMilliseconds(std::chrono::system_clock::time_point time);

}  // namespace fm::report
