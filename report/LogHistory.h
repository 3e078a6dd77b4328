#pragma once
// The levels logged in the day files (--log-dir) read back for a range of time: only the days
// the range touches are opened, only the columns asked for are parsed, and a range longer than
// its step comes back reduced per step (the energy mean of an Leq, the highest of a maximum or
// a peak, the lowest of a minimum), never thinned to a sample. A row without its line end (one
// being written, or torn by a power cut) is left out, and so is a row whose field is not a
// number. Columns are found by their names, so a file of an earlier version is read as well.
// Any thread. Qt-free.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fm::report {

enum class Reduction { EnergyMean, Highest, Lowest };

// How the values of a logged quantity ("LAeq_1s", "LZeq_1s_1kHz") combine over a step; nothing
// for a key that is not a column of the log.
std::optional<Reduction> reductionOf(const std::string& key);

struct HistoryQuery {
    std::int64_t fromMs = 0, toMs = 0;  // [from, to), ms since 1970 (UTC)
    std::vector<std::string> keys;      // logged quantities, e.g. "LAeq_1s", "LAFmax_1s"
    std::int64_t stepMs = 1000;         // one value per key for every step from `fromMs`
};

struct HistorySeries {
    std::vector<std::string> keys;
    std::vector<std::int64_t> startMs;  // the start of each step that holds a second
    // For each key, a value for each step; nullopt when no second of the step had one.
    std::vector<std::vector<std::optional<double>>> values;
    std::size_t daysRead = 0;  // day files opened
};

// The days ("2026-12-08") whose file in `folder` holds at least one row, oldest first.
std::vector<std::string> historyDays(const std::string& folder);

// The query's values from the day files in `folder`: a second counts for the step its middle
// falls in. Empty (no step) when nothing was logged then; *error is set only for a key that is
// not logged.
HistorySeries readHistory(const std::string& folder, const HistoryQuery& query, std::string* error);

// {"fromMs":..,"toMs":..,"stepMs":..,"keys":[..],"t":[..],"values":[[..],..]} with 2 decimals.
std::string historyJson(const HistoryQuery& query, const HistorySeries& series);

// "2026-12-07T23:50:17.123Z" in ms since 1970; nothing for any other text.
std::optional<std::int64_t> utcMillisecondsOf(std::string_view text);
// A time as the page asks for one: ms since 1970, "2026-12-08" (its local midnight) or
// "2026-12-07T23:00:00.000Z"; nothing for any other text.
std::optional<std::int64_t> historyTimeOf(std::string_view text);

}  // namespace fm::report
