#pragma once
// The system's local clock (its time zone, through the C library) for the summaries that follow
// the local day: the local date and time of an instant, and the instant of a local time. Qt-free.
#include <chrono>
#include <optional>

namespace fm::measure {

struct LocalTime {
    int year = 1970;
    int month = 1;  // 1 ... 12
    int day = 1;    // 1 ... 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    long utcOffsetSeconds = 0;  // local time minus UTC
};

// The local time of `instant`, to the whole second (rounded down); nullopt when the C library
// cannot say (a year out of its range).
std::optional<LocalTime> localTimeOf(std::chrono::system_clock::time_point instant);

// The instant at which the local clock reads `hour`:00:00 on the given date; a day beyond the
// month's end counts on into the next month (day 32 of December is 1 January). On a day when the
// clocks change, this is the real instant, whichever offset is in force then.
std::optional<std::chrono::system_clock::time_point> instantOfLocalHour(int year, int month,
                                                                        int day, int hour);

}  // namespace fm::measure
