#include "measure/LocalClock.h"

#include <ctime>

namespace fm::measure {

std::optional<LocalTime> localTimeOf(std::chrono::system_clock::time_point instant) {
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(instant));
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return std::nullopt;
    }
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,  local.tm_hour,
                     local.tm_min,         local.tm_sec,     local.tm_gmtoff};
}

std::optional<std::chrono::system_clock::time_point> instantOfLocalHour(int year, int month,
                                                                        int day, int hour) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;  // whichever is in force then
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1)) {
        return std::nullopt;  // out of range (23:59:59 UTC on 31 Dec 1969 is never asked for)
    }
    return std::chrono::system_clock::from_time_t(seconds);
}

}  // namespace fm::measure
