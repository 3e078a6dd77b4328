#pragma once
// What the program's web server serves: the live page and its files, the metrics, the JSON of
// the measurement, its event stream, and the downloads (the log, the summary, the events list,
// the event clips, the recordings). Files are handed out only by the program's own lists: the
// log and the summary by the paths given at the start, the others by name from a listing of
// their folder; nothing else is ever opened, and every other path is "404". Qt-free.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/HttpRoutes.h"
#include "report/MetricsText.h"

namespace fm::report {

class Reports;

inline constexpr const char* kLiveStreamPath = "/api/stream";

struct LiveSiteOptions {
    const Reports* reports = nullptr;
    std::string meterName;
    std::string documentsFolder;       // holds output2.caf, recordings/ and events/
    std::string logPath, summaryPath;  // "" when not written
    std::string logFolder;             // the day files (--log-dir); "" when not written
    std::string dygraphsFolder = "/usr/share/javascript/dygraphs";  // Debian's libjs-dygraphs
    // Any thread: what the metrics add to the reports' values (raw level, frames dropped), and
    // the 320 spectrum band powers now.
    std::function<MeterReading()> meterExtras;
    std::function<std::vector<float>()> spectrum;
    // Any thread: more metrics families, appended to the reports' (the deliveries').
    std::function<std::string()> moreMetrics;
};

fm::platform::HttpRoutes liveSiteRoutes(const LiveSiteOptions& options);

// The page's own files, compiled into the program (generated from report/page/): the body of
// "index.html", "page.js", "page.css", "history.js" or "report.html", or nothing for any other
// name.
std::optional<std::string_view> livePageFile(std::string_view name);

}  // namespace fm::report
