#include "mail/MailDate.h"

#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <memory>

namespace fm::mail {

std::string formatMailDate(std::chrono::system_clock::time_point when, const icu::Locale& locale,
                           const icu::TimeZone& zone) {
    UErrorCode status = U_ZERO_ERROR;
    // yyyy, not YYYY: the week-based year turns the last days of December into the next year.
    icu::SimpleDateFormat format(icu::UnicodeString("EEEE MMMM d, yyyy"), locale, status);
    if (U_FAILURE(status)) {
        return {};
    }
    format.setTimeZone(zone);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    icu::UnicodeString text;
    format.format(static_cast<UDate>(ms.count()), text);
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

std::string formatMailDate(std::chrono::system_clock::time_point when) {
    const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    return formatMailDate(when, icu::Locale::getDefault(), *zone);
}

}  // namespace fm::mail
