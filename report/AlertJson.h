#pragma once
// The limits as JSON: one alert as the senders carry it and /api/alerts lists it (the README
// shows its fields), and the limits' states that /api/now and the page's stream carry. Times
// are given in UTC and in the meter's local time with its offset. Qt-free.
#include <chrono>
#include <string>
#include <vector>

#include "measure/LimitWatch.h"

namespace fm::report {

std::string alertJson(const fm::measure::LimitAlert& alert, const std::string& meterName);
// {"alerts":[...]}, in the order given (newest first).
std::string alertsJson(const std::vector<fm::measure::LimitAlert>& alerts,
                       const std::string& meterName);
// A JSON array of the limits' states.
void appendLimitStatesJson(std::string* out, const std::vector<fm::measure::LimitState>& states);

// The alert in a line of words, for a notification or a mail's subject: "night raised: 47.3 dB
// above 45 dB (LAeq_15m>45@23:00-07:00) since 23:14:05".
std::string alertLine(const fm::measure::LimitAlert& alert);

// The local time with its offset from UTC, to the millisecond, e.g.
// "2026-12-08T23:14:05.250+01:00".
std::string localTimeText(std::chrono::system_clock::time_point time);

}  // namespace fm::report
