#include "report/LiveSite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "report/EventList.h"
#include "report/JsonText.h"
#include "report/Reports.h"
#include "report/ServedFolder.h"

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

// A file the program knows (the charts library). Opened without waiting: a FIFO is no file to
// hand out and must not hold the server.
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

struct Downloads {
    Downloads(const LiveSiteOptions& o)
        : events(o.documentsFolder + "/events"),
          recordings(o.documentsFolder + "/recordings", {".caf", ".wav"}),
          current(o.documentsFolder, {"output2.caf"}),
          logPath(o.logPath),
          summaryPath(o.summaryPath),
          logFile(writtenFile(o.logPath)),
          summaryFile(writtenFile(o.summaryPath)) {}

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
        link("summary", !summaryPath.empty(), "/summary.csv");
        link("eventsCsv", ::lstat(events.csvPath().c_str(), &info) == 0 && S_ISREG(info.st_mode),
             "/events.csv");
        const std::vector<EventRow> rows = events.rows();
        std::set<std::string> clips;
        for (const ServedFile& f : events.clips().list()) {
            clips.insert(f.name);
        }
        out += "\"eventsTotal\":" + std::to_string(events.total()) + ",\"events\":[";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const EventRow& e = rows[i];
            out += i > 0 ? ",{" : "{";
            auto text = [&](const char* name, const std::string& value) {
                appendJsonString(&out, name);
                out += ':';
                appendJsonString(&out, value);
                out += ',';
            };
            auto number = [&](const char* name, const std::optional<double>& value, int decimals) {
                appendJsonString(&out, name);
                out += ':';
                appendJsonNumber(&out, value, decimals);
                out += ',';
            };
            text("start", e.startUtc);
            text("end", e.endUtc);
            number("durationS", e.durationSeconds, 1);
            text("trigger", e.trigger);
            number("LAFmax", e.LAFmax, 1);
            number("LAeq", e.LAeq, 1);
            number("LCpeak", e.LCpeak, 1);
            text("unit", e.calibrated ? "dB" : "dBFS");
            text("clip", e.clip);
            out += std::string("\"kept\":") + (e.kept ? "true" : "false") + ",\"url\":";
            if (e.kept && clips.count(e.clip) > 0) {
                appendJsonString(&out, "/events/" + percentEncodedSegment(e.clip));
            } else {
                out += "null";
            }
            out += '}';
        }
        out += "],\"recordings\":[";
        std::vector<ServedFile> files;
        for (const ServedFile& f : current.list()) {
            if (f.name == "output2.caf") {
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

    EventList events;
    ServedFolder recordings;
    ServedFolder current;
    std::string logPath, summaryPath;
    std::string logFile, summaryFile;  // what is opened for a download
};

}  // namespace

fm::platform::HttpRoutes liveSiteRoutes(const LiveSiteOptions& o) {
    const Reports* reports = o.reports;
    auto downloads = std::make_shared<Downloads>(o);
    fm::platform::HttpRoutes routes;
    routes.exact("/", [](const HttpRequest&) { return pageFile("index.html", "text/html"); });
    for (const char* name : {"page.js", "page.css"}) {
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
    routes.exact("/api/trend",
                 [reports](const HttpRequest&) { return json(reports->levelTrendJson()); });
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
        return fileAnswer(downloads->recordings.open(request.remainder), request.remainder, true);
    });
    routes.exact("/output2.caf", [downloads](const HttpRequest&) {
        return fileAnswer(downloads->current.open("output2.caf"), "output2.caf", true);
    });
    return routes;
}

}  // namespace fm::report
