#include "report/SummaryLog.h"

#include <cstdio>
#include <vector>

#include "measure/LocalClock.h"
#include "measure/Quantities.h"
#include "report/LevelLog.h"
#include "report/NumberText.h"

namespace fm::report {

namespace {

using fm::measure::Interval;
using fm::measure::Quantity;

enum class Columns { PeriodLevels, DayLevels, Bands };

bool in(const Quantity& q, Columns columns) {
    switch (columns) {
        case Columns::PeriodLevels:
            return q.interval == Interval::Period && q.band < 0;
        case Columns::DayLevels:
            return q.interval == Interval::Day;
        case Columns::Bands:
            return q.interval == Interval::Period && q.band >= 0;
    }
    return false;
}

void names(std::string* out, Columns columns) {
    for (const Quantity& q : fm::measure::quantities()) {
        if (in(q, columns)) {
            *out += "," + q.key + "_dB";
        }
    }
}

void values(std::string* out, Columns columns, const fm::measure::MeasurementView& view) {
    for (const Quantity& q : fm::measure::quantities()) {
        if (in(q, columns)) {
            *out += ',';
            appendFixed(out, fm::measure::valueOf(q, view), 2);
        }
    }
}

void blanks(std::string* out, Columns columns) {
    for (const Quantity& q : fm::measure::quantities()) {
        if (in(q, columns)) {
            *out += ',';
        }
    }
}

std::string calibration(bool calibrated, double offsetDb) {
    std::string out = calibrated ? ",1," : ",0,";
    appendFixed(&out, offsetDb, 2);
    return out;
}

constexpr const char* kLimitColumns = ",limit,limit_seconds_over,limit_episodes";
constexpr const char* kLimitBlanks = ",,,";

}  // namespace

std::string summaryHeader() {
    std::string header = "row,start_utc,end_utc,start_local,end_local";
    names(&header, Columns::PeriodLevels);
    header += ",measured_s,no_input_s,overload_s,lost_s,complete,date";
    names(&header, Columns::DayLevels);
    header += ",day_coverage,evening_coverage,night_coverage,calibrated,calibration_offset_db";
    names(&header, Columns::Bands);
    header += kLimitColumns;
    return header + "\n";
}

std::string summaryPeriodRow(const fm::measure::PeriodValues& period) {
    fm::measure::MeasurementView view;
    view.period = &period;
    std::string row = "period," + utcTimeWithMilliseconds(period.start) + "," +
                      utcTimeWithMilliseconds(period.end);
    row +=
        "," + localTimeWithMilliseconds(period.start) + "," + localTimeWithMilliseconds(period.end);
    values(&row, Columns::PeriodLevels, view);
    row += "," + std::to_string(period.measuredSeconds) + "," +
           std::to_string(period.noInputSeconds) + "," + std::to_string(period.overloadSeconds) +
           ",";
    appendFixed(&row, period.lostSeconds, 3);
    row += period.complete ? ",1," : ",0,";
    blanks(&row, Columns::DayLevels);
    row += ",,,";
    row += calibration(period.calibrated, period.calibrationOffsetDb);
    values(&row, Columns::Bands, view);
    row += kLimitBlanks;
    return row + "\n";
}

std::string summaryDayRow(const fm::measure::DayValues& day) {
    fm::measure::MeasurementView view;
    view.day = &day;
    std::string row = "day,";
    int y = 0, m = 0, d = 0;
    if (std::sscanf(day.date.c_str(), "%d-%d-%d", &y, &m, &d) == 3) {
        const auto start = fm::measure::instantOfLocalHour(y, m, d, 0);
        const auto end = fm::measure::instantOfLocalHour(y, m, d + 1, 0);
        if (start && end) {
            row += utcTimeWithMilliseconds(*start) + "," + utcTimeWithMilliseconds(*end);
            row += "," + localTimeWithMilliseconds(*start) + "," + localTimeWithMilliseconds(*end);
        } else {
            row += ",,,";
        }
    } else {
        row += ",,,";
    }
    blanks(&row, Columns::PeriodLevels);
    row += ",,,,,," + day.date;
    values(&row, Columns::DayLevels, view);
    for (double coverage : {day.dayCoverage, day.eveningCoverage, day.nightCoverage}) {
        row += ',';
        appendFixed(&row, coverage, 4);
    }
    row += calibration(day.calibrated, day.calibrationOffsetDb);
    blanks(&row, Columns::Bands);
    row += kLimitBlanks;
    return row + "\n";
}

}  // namespace fm::report

namespace fm::report {

std::string summaryLimitRow(const fm::measure::PeriodValues& period, const std::string& limit,
                            std::uint64_t secondsOver, std::uint64_t episodes) {
    // Blank wherever the header has a column of its own for another kind of row.
    std::string header = summaryHeader();
    header.pop_back();
    std::vector<std::string> fields;
    for (std::size_t at = 0;;) {
        const std::size_t comma = header.find(',', at);
        fields.push_back(header.substr(at, comma - at));
        if (comma == std::string::npos) {
            break;
        }
        at = comma + 1;
    }
    for (std::string& field : fields) {
        if (field == "row") {
            field = "limit";
        } else if (field == "start_utc") {
            field = utcTimeWithMilliseconds(period.start);
        } else if (field == "end_utc") {
            field = utcTimeWithMilliseconds(period.end);
        } else if (field == "limit") {
            field = limit;  // names hold no comma, quote or line feed
        } else if (field == "limit_seconds_over") {
            field = std::to_string(secondsOver);
        } else if (field == "limit_episodes") {
            field = std::to_string(episodes);
        } else {
            field.clear();
        }
    }
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        row += (i > 0 ? "," : "") + fields[i];
    }
    return row + "\n";
}

}  // namespace fm::report
