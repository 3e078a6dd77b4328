#include "report/LevelLog.h"

#include <cstdio>
#include <ctime>

#include "measure/MicCorrection.h"
#include "measure/Quantities.h"
#include "report/NumberText.h"

namespace fm::report {

namespace {

using fm::measure::Interval;
using fm::measure::Quantity;

bool logged(const Quantity& q, bool bands) {
    return q.interval == Interval::Second && (q.band >= 0) == bands;
}

// Text as one CSV field: quoted when it holds a comma, a quote or a line break.
void appendCsvText(std::string* row, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        *row += text;
        return;
    }
    *row += '"';
    for (const char c : text) {
        *row += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    *row += '"';
}

}  // namespace

std::string levelLogHeader() {
    std::string header = "time_utc,time_local";
    for (const Quantity& q : fm::measure::quantities()) {
        if (logged(q, false)) {
            header += "," + q.key + "_dB";
        }
    }
    header +=
        ",raw_level,yaw_deg,calibrated,frames_dropped,lost_frames,clock_step_s,overload,"
        "calibration_offset_db,input";
    for (const Quantity& q : fm::measure::quantities()) {
        if (logged(q, true)) {
            header += "," + q.key + "_dB";
        }
    }
    header += ",limits";
    // Last: the microphone's correction in use (its file's name; empty for none).
    return header + ",mic_correction\n";
}

std::string utcTimeWithMilliseconds(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {  // before 1970: the division rounded towards zero
        millis += 1000;
        seconds -= 1;
    }
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string out(text, n);
    char frac[8];
    const int m = std::snprintf(frac, sizeof frac, ".%03ldZ", millis);
    if (m > 0 && m < static_cast<int>(sizeof frac)) {
        out.append(frac, static_cast<std::size_t>(m));
    }
    return out;
}

std::string localTimeWithMilliseconds(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        seconds -= 1;
    }
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::string out(text, n);
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char rest[24];
    const int m = std::snprintf(rest, sizeof rest, ".%03ld%c%02ld:%02ld", millis,
                                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    if (m > 0 && m < static_cast<int>(sizeof rest)) {
        out.append(rest, static_cast<std::size_t>(m));
    }
    return out;
}

std::string levelLogRow(const fm::measure::SecondRecord& second, const LevelLogExtras& extras) {
    fm::measure::MeasurementView view;
    view.second = &second;
    std::string row = utcTimeWithMilliseconds(second.closedAt);
    row += ',';
    row += localTimeWithMilliseconds(second.closedAt);
    auto levels = [&](bool bands) {
        for (const Quantity& q : fm::measure::quantities()) {
            if (logged(q, bands)) {
                row += ',';
                appendFixed(&row, fm::measure::valueOf(q, view), 2);
            }
        }
    };
    levels(false);
    row += ',';
    appendFixed(&row, extras.rawLevel, 2);
    row += ',';
    appendFixed(&row, extras.yawDegrees, 1);
    row += second.calibrated ? ",1," : ",0,";
    row += std::to_string(extras.framesDropped);
    row += ',' + std::to_string(second.lostFrames) + ',';
    if (second.clockStepSeconds != 0.0) {
        appendFixed(&row, second.clockStepSeconds, 2);
    }
    row += ',';
    if (fm::measure::hasLevels(second.input)) {
        row += std::to_string(second.overloadSamples);
    }
    row += ',';
    appendFixed(&row, second.calibrationOffsetDb, 2);
    row += ',';
    row += fm::measure::inputKindName(second.input);
    levels(true);
    row += ',';
    row += extras.limits;  // names hold no comma, quote or line feed
    row += ',';
    appendCsvText(&row, fm::measure::micCorrectionInUse());
    row += '\n';
    return row;
}

}  // namespace fm::report
