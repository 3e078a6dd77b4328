#include "report/SummaryHistory.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>

#include "report/EventList.h"
#include "report/JsonText.h"
#include "report/LogHistory.h"

namespace fm::report {

namespace {

std::optional<double> numberOf(const std::string& text) {
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

constexpr const char* kPeriodLevels[] = {"LAeq_T", "LAFmax_T", "LA10_T", "LA90_T"};
constexpr const char* kDayLevels[] = {"Lday", "Levening", "Lnight", "Lden"};

}  // namespace

std::string summaryHistoryJson(const std::string& summaryPath, std::int64_t fromMs,
                               std::int64_t toMs) {
    std::string periods, days;
    std::ifstream in(summaryPath, std::ios::binary);
    std::vector<std::string> columns;
    std::string line;
    while (in && std::getline(in, line)) {
        if (in.eof()) {
            break;  // no line end: a row being written, or torn
        }
        std::vector<std::string> fields = csvFields(line);
        if (columns.empty()) {
            columns = std::move(fields);
            continue;
        }
        auto at = [&](const std::string& name) -> std::string {
            const auto c = std::find(columns.begin(), columns.end(), name);
            const auto i = static_cast<std::size_t>(c - columns.begin());
            return c == columns.end() || i >= fields.size() ? std::string() : fields[i];
        };
        const std::optional<std::int64_t> start = utcMillisecondsOf(at("start_utc"));
        const std::optional<std::int64_t> end = utcMillisecondsOf(at("end_utc"));
        if (!start || !end || *start < fromMs || *start >= toMs) {
            continue;
        }
        std::string* out = nullptr;
        std::string row =
            "{\"startMs\":" + std::to_string(*start) + ",\"endMs\":" + std::to_string(*end);
        auto number = [&](const std::string& key, const std::string& column) {
            row += ',';
            appendJsonString(&row, key);
            row += ':';
            appendJsonNumber(&row, numberOf(at(column)), 2);
        };
        row += ",\"startLocal\":";
        appendJsonString(&row, at("start_local"));
        if (at("row") == "period") {
            out = &periods;
            for (const char* key : kPeriodLevels) {
                number(key, std::string(key) + "_dB");
            }
            number("measured_s", "measured_s");
            row += std::string(",\"complete\":") + (at("complete") == "1" ? "true" : "false");
        } else if (at("row") == "day") {
            out = &days;
            row += ",\"date\":";
            appendJsonString(&row, at("date"));
            for (const char* key : kDayLevels) {
                number(key, std::string(key) + "_dB");
            }
        } else {
            continue;
        }
        row += std::string(",\"calibrated\":") + (at("calibrated") == "1" ? "true" : "false");
        number("calibrationOffsetDb", "calibration_offset_db");
        *out += (out->empty() ? "" : ",") + row + "}";
    }
    return "{\"periods\":[" + periods + "],\"days\":[" + days + "]}";
}

}  // namespace fm::report
