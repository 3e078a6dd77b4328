#include "report/LiveSite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <set>

#include "platform/audiofile/RecordingAsWav.h"
#include "report/EventList.h"
#include "report/JsonText.h"
#include "report/LogHistory.h"
#include "report/Reports.h"
#include "report/ServedFolder.h"
#include "report/SummaryHistory.h"

namespace fm::report {

namespace {

using fm::platform::HttpRequest;
using fm::platform::HttpResponse;

HttpResponse notFound() {
    return HttpResponse::text(404, "not found");
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* contentTypeOf(const std::string& name) {
    if (name.ends_with(".csv")) {
        return "text/csv";
    }
    if (name.ends_with(".wav")) {
        return "audio/wav";
    }
    if (name.ends_with(".caf")) {
        return "audio/x-caf";
    }
    if (name.ends_with(".js")) {
        return "text/javascript";
    }
    if (name.ends_with(".css")) {
        return "text/css";
    }
    return "application/octet-stream";
}

// Content-Disposition for a download: the plain name with what a quoted string cannot carry
// replaced, and the exact name in RFC 5987's encoding beside it.
std::string attachment(const std::string& name) {
    std::string plain;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        plain.push_back(u < 0x20 || u >= 0x7f || c == '"' || c == '\\' ? '_' : c);
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" +
           percentEncodedSegment(name);
}

// An open regular file as the answer, or 404. A descriptor of anything else is closed.
HttpResponse fileAnswer(int fd, const std::string& name, bool download) {
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return notFound();
    }
    HttpResponse r;
    r.contentType = contentTypeOf(name);
    r.fileDescriptor = fd;
    if (download) {
        r.headers.emplace_back("Content-Disposition", attachment(name));
    }
    return r;
}

// A recording (a CAF, open as `fd`) as the WAV a browser plays, when the request asks for it
// with ?as=wav: converted into a file without a name that goes with the answer and vanishes
// with it. Anything else: the file as it is.
HttpResponse recordingAnswer(int fd, const std::string& name, const HttpRequest& request) {
    const auto as = request.query.find("as");
    if (as == request.query.end() || as->second != "wav" || fd < 0 || !name.ends_with(".caf")) {
        return fileAnswer(fd, name, true);
    }
    std::string why;
    auto wav = fm::platform::RecordingWav::open("/proc/self/fd/" + std::to_string(fd), &why);
    ::close(fd);
    if (!wav) {
        return HttpResponse::text(422, name + ": cannot be played as WAV: " + why);
    }
    const char* tmp = std::getenv("TMPDIR");
    const int out =
        ::open(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (out < 0) {
        return HttpResponse::text(500, "no room for the WAV of " + name);
    }
    std::vector<char> buffer(1 << 16);
    while (true) {
        const std::int64_t n = wav->read(buffer.data(), buffer.size());
        if (n == 0) {
            break;
        }
        if (n < 0 || ::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
            ::close(out);
            return HttpResponse::text(
                500, name + ": " + (n < 0 ? wav->error() : "cannot write its WAV"));
        }
    }
    ::lseek(out, 0, SEEK_SET);
    HttpResponse r;
    r.contentType = "audio/wav";
    r.fileDescriptor = out;
    return r;
}

// A file the program was given (the log, the summary) or knows (the charts library). Opened
// without waiting: a FIFO given as the log is no file to hand out and must not hold the server.
int openGivenFile(const std::string& path) {
    return path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// The file the program writes (the log, the summary), by the path it had when the server
// started, its links followed once: the file the writer opened.
std::string writtenFile(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    const std::string found = resolved == nullptr ? path : resolved;
    std::free(resolved);
    return found;
}

// That file, never a link put in its place since: whatever it pointed to, another user's
// file or a key, is not the program's to hand out.
int openWrittenFile(const std::string& path) {
    return path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

HttpResponse json(std::string body) {
    HttpResponse r;
    r.contentType = "application/json";
    r.body = std::move(body);
    return r;
}

HttpResponse pageFile(const std::string& name, const char* type) {
    const auto body = livePageFile(name);
    if (!body) {
        return notFound();
    }
    HttpResponse r;
    r.contentType = type;
    r.body = std::string(*body);
    return r;
}

// The events the history pages through: years of a busy place.
constexpr std::size_t kHistoryEvents = 200'000;

// The system's time zone by name for the day report ("Europe/Berlin"), else its abbreviation.
std::string timeZoneName() {
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        return *tz == ':' ? tz + 1 : tz;
    }
    char target[256];
    const ssize_t n = ::readlink("/etc/localtime", target, sizeof target - 1);
    if (n > 0) {
        const std::string path(target, static_cast<std::size_t>(n));
        const auto at = path.find("zoneinfo/");
        if (at != std::string::npos) {
            return path.substr(at + 9);
        }
    }
    ::tzset();
    return tzname[0];
}

// A range asked for: from and to (ms, a local date or ISO UTC), to after from.
bool rangeOf(const HttpRequest& request, std::int64_t* from, std::int64_t* to, std::string* error) {
    const auto f = request.query.find("from");
    const auto t = request.query.find("to");
    const auto fromMs = f == request.query.end() ? std::nullopt : historyTimeOf(f->second);
    const auto toMs = t == request.query.end() ? std::nullopt : historyTimeOf(t->second);
    if (!fromMs || !toMs || *toMs <= *fromMs) {
        *error =
            "from and to: give two times, to after from (ms since 1970, 2026-12-08 for "
            "that local midnight, or 2026-12-08T06:00:00.000Z)";
        return false;
    }
    *from = *fromMs;
    *to = *toMs;
    return true;
}

std::vector<std::string> keysOf(const std::string& text) {
    std::vector<std::string> keys;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        if (comma > at) {
            keys.push_back(text.substr(at, comma - at));
        }
        at = comma + 1;
    }
    return keys;
}

HttpResponse historyAnswer(const std::string& folder, const HttpRequest& request) {
    HistoryQuery query;
    std::string error;
    if (!rangeOf(request, &query.fromMs, &query.toMs, &error)) {
        return HttpResponse::text(400, error);
    }
    const auto q = request.query.find("q");
    query.keys = keysOf(q == request.query.end() ? "LAeq_1s,LAFmax_1s" : q->second);
    if (query.keys.empty() || query.keys.size() > 64) {
        return HttpResponse::text(400, "q: name from 1 to 64 quantities of the log");
    }
    // One value a second for up to a day; a longer range in as many steps as a day has seconds.
    const std::int64_t span = query.toMs - query.fromMs;
    query.stepMs = std::max<std::int64_t>(1000, (span + 86'400 - 1) / 86'400 / 1000 * 1000);
    if (const auto s = request.query.find("step"); s != request.query.end()) {
        char* end = nullptr;
        const double seconds = std::strtod(s->second.c_str(), &end);
        if (s->second.empty() || *end != '\0' || !(seconds >= 0.001) || seconds > 1e8) {
            return HttpResponse::text(400, "step: seconds, above 0");
        }
        query.stepMs = static_cast<std::int64_t>(seconds * 1000.0 + 0.5);
    }
    if (folder.empty()) {
        return json(historyJson(query, {}));  // nothing logged by day: an empty series
    }
    const HistorySeries series = readHistory(folder, query, &error);
    if (!error.empty()) {
        return HttpResponse::text(400, error);
    }
    return json(historyJson(query, series));
}

struct Downloads {
    Downloads(const LiveSiteOptions& o)
        : events(o.documentsFolder + "/events"),
          recordings(o.documentsFolder + "/recordings", {".caf", ".wav"}),
          current(o.documentsFolder, {"output2.caf"}),
          logPath(o.logPath),
          summaryPath(o.summaryPath),
          logFile(writtenFile(o.logPath)),
          summaryFile(writtenFile(o.summaryPath)),
          history(o.documentsFolder + "/events", kHistoryEvents),
          dayFiles(o.logFolder, {".csv"}) {}

    std::string listJson() {
        std::string out = "{";
        auto link = [&](const char* name, bool present, const char* url) {
            appendJsonString(&out, name);
            out += ':';
            if (present) {
                appendJsonString(&out, url);
            } else {
                out += "null";
            }
            out += ',';
        };
        struct stat info {};
        link("log", !logPath.empty(), "/log.csv");
        out += "\"logName\":";
        appendJsonString(&out, baseName(logPath));
        out += ",\"summaryName\":";
        appendJsonString(&out, baseName(summaryPath));
        out += ',';
        link("summary", !summaryPath.empty(), "/summary.csv");
        link("eventsCsv", ::lstat(events.csvPath().c_str(), &info) == 0 && S_ISREG(info.st_mode),
             "/events.csv");
        const std::vector<EventRow> rows = events.rows();
        const std::set<std::string> clips = clipNames();
        out += "\"eventsTotal\":" + std::to_string(events.total()) + ",\"events\":[";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            out += i > 0 ? "," : "";
            appendEvent(&out, rows[i], clips);
        }
        out += "],\"recordings\":[";
        std::vector<ServedFile> files;
        for (const ServedFile& f : current.list()) {
            if (f.name == "output2.caf" && holdsSamples(f.name)) {
                files.push_back(f);
            }
        }
        const bool hasCurrent = !files.empty();
        const std::vector<ServedFile> kept = recordings.list();
        files.insert(files.end(), kept.rbegin(), kept.rend());  // named by date: the newest first
        for (std::size_t i = 0; i < files.size(); ++i) {
            const bool isCurrent = hasCurrent && i == 0;
            out += i > 0 ? ",{" : "{";
            appendJsonString(&out, "name");
            out += ':';
            appendJsonString(&out, files[i].name);
            out += ",\"size\":" + std::to_string(files[i].size) +
                   ",\"modifiedMs\":" + std::to_string(files[i].modifiedMs) +
                   ",\"current\":" + (isCurrent ? "true" : "false") + ",\"url\":";
            appendJsonString(&out, isCurrent
                                       ? "/output2.caf"
                                       : "/recordings/" + percentEncodedSegment(files[i].name));
            out += '}';
        }
        out += "]}";
        return out;
    }

    // output2.caf is made anew, header only, at every start: that placeholder is no recording.
    bool holdsSamples(const std::string& name) const {
        const int fd = current.open(name);
        if (fd < 0) {
            return false;
        }
        std::string why;
        const bool samples = fm::platform::RecordingWav::open("/proc/self/fd/" + std::to_string(fd),
                                                              &why) != nullptr;
        ::close(fd);
        return samples;
    }

    std::set<std::string> clipNames() const {
        std::set<std::string> clips;
        for (const ServedFile& f : events.clips().list()) {
            clips.insert(f.name);
        }
        return clips;
    }

    static void appendEvent(std::string* out, const EventRow& e,
                            const std::set<std::string>& clips) {
        *out += '{';
        auto text = [&](const char* name, const std::string& value) {
            appendJsonString(out, name);
            *out += ':';
            appendJsonString(out, value);
            *out += ',';
        };
        auto number = [&](const char* name, const std::optional<double>& value, int decimals) {
            appendJsonString(out, name);
            *out += ':';
            appendJsonNumber(out, value, decimals);
            *out += ',';
        };
        text("start", e.startUtc);
        text("end", e.endUtc);
        text("startLocal", e.startLocal);
        number("durationS", e.durationSeconds, 1);
        text("trigger", e.trigger);
        number("LAFmax", e.LAFmax, 1);
        number("LAeq", e.LAeq, 1);
        number("LCpeak", e.LCpeak, 1);
        text("unit", e.calibrated ? "dB" : "dBFS");
        text("clip", e.clip);
        *out += std::string("\"kept\":") + (e.kept ? "true" : "false") + ",\"url\":";
        if (e.kept && clips.count(e.clip) > 0) {
            appendJsonString(out, "/events/" + percentEncodedSegment(e.clip));
        } else {
            *out += "null";
        }
        *out += '}';
    }

    // The events that began in [from, to) with LAFmax at least `min`, newest first, `limit` of
    // them from `offset` on, and how many there are.
    HttpResponse eventsAnswer(const HttpRequest& request) {
        std::int64_t from = 0, to = 0;
        std::string error;
        if (!rangeOf(request, &from, &to, &error)) {
            return HttpResponse::text(400, error);
        }
        auto integer = [&](const char* name, long fallback) {
            const auto v = request.query.find(name);
            return v == request.query.end() ? fallback
                                            : std::strtol(v->second.c_str(), nullptr, 10);
        };
        const auto offset = static_cast<std::size_t>(std::max(0L, integer("offset", 0)));
        const auto limit = static_cast<std::size_t>(std::clamp(integer("limit", 50), 1L, 1000L));
        std::optional<double> least;
        if (const auto m = request.query.find("min");
            m != request.query.end() && !m->second.empty()) {
            least = std::strtod(m->second.c_str(), nullptr);
        }
        const std::set<std::string> clips = clipNames();
        std::string list;
        std::size_t matched = 0;
        for (const EventRow& e : history.rows()) {
            const std::optional<std::int64_t> start = utcMillisecondsOf(e.startUtc);
            if (!start || *start < from || *start >= to ||
                (least && !(e.LAFmax && *e.LAFmax >= *least))) {
                continue;
            }
            if (matched >= offset && matched < offset + limit) {
                list += list.empty() ? "" : ",";
                appendEvent(&list, e, clips);
            }
            ++matched;
        }
        return json("{\"total\":" + std::to_string(matched) +
                    ",\"offset\":" + std::to_string(offset) + ",\"events\":[" + list + "]}");
    }

    EventList events;
    ServedFolder recordings;
    ServedFolder current;
    std::string logPath, summaryPath;
    std::string logFile, summaryFile;  // what is opened for a download
    EventList history;  // every event the list holds, for the history's pages of them
    ServedFolder dayFiles;
};

}  // namespace

fm::platform::HttpRoutes liveSiteRoutes(const LiveSiteOptions& o) {
    const Reports* reports = o.reports;
    auto downloads = std::make_shared<Downloads>(o);
    fm::platform::HttpRoutes routes;
    routes.exact("/", [](const HttpRequest&) { return pageFile("index.html", "text/html"); });
    for (const char* name : {"page.js", "page.css", "history.js"}) {
        routes.exact(std::string("/") + name,
                     [name](const HttpRequest&) { return pageFile(name, contentTypeOf(name)); });
    }
    for (const char* name : {"dygraph.min.js", "dygraph.min.css"}) {
        const std::string path = o.dygraphsFolder + "/" + name;
        routes.exact(std::string("/") + name, [path, name](const HttpRequest&) {
            return fileAnswer(openGivenFile(path), name, false);
        });
    }
    routes.exact("/metrics", [reports, name = o.meterName, extras = o.meterExtras,
                              more = o.moreMetrics](const HttpRequest&) {
        HttpResponse r;
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = reports->metricsText(name, extras ? extras() : MeterReading{});
        if (more) {
            r.body += more();
        }
        return r;
    });
    routes.exact(
        "/api/now", [reports, name = o.meterName, spectrum = o.spectrum](const HttpRequest&) {
            return json(reports->liveNowJson(name, spectrum ? spectrum() : std::vector<float>{}));
        });
    routes.exact("/api/alerts", [reports, name = o.meterName](const HttpRequest&) {
        return json(reports->alertsJson(name));
    });
    routes.exact("/api/trend",
                 [reports](const HttpRequest&) { return json(reports->levelTrendJson()); });
    routes.exact("/report",
                 [](const HttpRequest&) { return pageFile("report.html", "text/html"); });
    routes.exact("/api/days", [folder = o.logFolder](const HttpRequest&) {
        std::string out = "{\"days\":[";
        const std::vector<std::string> days =
            folder.empty() ? std::vector<std::string>{} : historyDays(folder);
        for (std::size_t i = 0; i < days.size(); ++i) {
            out += i > 0 ? "," : "";
            appendJsonString(&out, days[i]);
        }
        out += "],\"timeZone\":";
        appendJsonString(&out, timeZoneName());
        out += std::string(",\"logged\":") + (folder.empty() ? "false" : "true") + "}";
        return json(out);
    });
    routes.exact("/api/history", [folder = o.logFolder](const HttpRequest& request) {
        return historyAnswer(folder, request);
    });
    routes.exact("/api/summary", [path = o.summaryPath](const HttpRequest& request) {
        std::int64_t from = 0, to = 0;
        std::string error;
        if (!rangeOf(request, &from, &to, &error)) {
            return HttpResponse::text(400, error);
        }
        return json(path.empty() ? std::string("{\"periods\":[],\"days\":[]}")
                                 : summaryHistoryJson(path, from, to));
    });
    routes.exact("/api/events", [downloads](const HttpRequest& request) {
        return downloads->eventsAnswer(request);
    });
    routes.prefix("/log/", [downloads](const HttpRequest& request) {
        return fileAnswer(downloads->dayFiles.open(request.remainder), request.remainder, true);
    });
    routes.exact("/api/files",
                 [downloads](const HttpRequest&) { return json(downloads->listJson()); });
    routes.stream(kLiveStreamPath);
    routes.exact("/log.csv", [downloads](const HttpRequest&) {
        return fileAnswer(openWrittenFile(downloads->logFile), baseName(downloads->logPath), true);
    });
    routes.exact("/summary.csv", [downloads](const HttpRequest&) {
        return fileAnswer(openWrittenFile(downloads->summaryFile), baseName(downloads->summaryPath),
                          true);
    });
    routes.exact("/events.csv", [downloads](const HttpRequest&) {
        const int fd = ::open(downloads->events.csvPath().c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        return fileAnswer(fd, "events.csv", true);
    });
    routes.prefix("/events/", [downloads](const HttpRequest& request) {
        return fileAnswer(downloads->events.clips().open(request.remainder), request.remainder,
                          true);
    });
    routes.prefix("/recordings/", [downloads](const HttpRequest& request) {
        return recordingAnswer(downloads->recordings.open(request.remainder), request.remainder,
                               request);
    });
    routes.exact("/output2.caf", [downloads](const HttpRequest& request) {
        return recordingAnswer(downloads->current.open("output2.caf"), "output2.caf", request);
    });
    return routes;
}

}  // namespace fm::report
