#pragma once
// The mail body: the day the mail is written, as "EEEE MMMM d, yyyy" (calendar year).
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <chrono>
#include <string>

namespace fm::mail {

// Formats when in the given locale and time zone, e.g. "Wednesday December 31, 2025".
std::string formatMailDate(std::chrono::system_clock::time_point when, const icu::Locale& locale,
                           const icu::TimeZone& zone);

// The same in the user's default locale and time zone.
std::string formatMailDate(std::chrono::system_clock::time_point when);

}  // namespace fm::mail
