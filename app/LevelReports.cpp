#include "app/LevelReports.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "audio/SignalState.h"
#include "measure/Measurement.h"
#include "platform/audiofile/AudioFileWriter.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/http/HttpServer.h"
#include "report/Reports.h"

namespace fm::app {

namespace {

void say(const std::string& line) {
    std::fprintf(stderr, "fieldmeter: %s\n", line.c_str());
}

}  // namespace

std::string LevelReports::meterName(const fm::platform::DeviceOptions& options) {
    if (!options.meterName.empty()) {
        return options.meterName;
    }
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return "fieldmeter";
    }
    return host;
}

std::unique_ptr<LevelReports> LevelReports::start(const fm::platform::DeviceOptions& options,
                                                  std::string* error) {
    std::unique_ptr<LevelReports> self(new LevelReports());
    fm::report::Reports::Options files;
    files.logPath = options.logFile;
    files.summaryPath = options.summaryFile;
    files.period =
        fm::measure::parsePeriod(options.period).value_or(fm::measure::Period::FifteenMinutes);
    files.eventThresholds.lafDb = options.eventAboveDb;
    files.eventThresholds.peakDb = options.eventPeakDb;
    files.preRollSeconds = options.preRollSeconds;
    files.postRollSeconds = options.postRollSeconds;
    files.eventsBudgetBytes = static_cast<std::uint64_t>(std::llround(options.eventsMaxMb * 1e6));
    files.eventsFolder = fm::platform::documentsFolder() + "/events";
    self->reports_ = fm::report::Reports::open(fm::measure::measurement(), files,
                                               std::chrono::system_clock::now(), say, error);
    if (!self->reports_) {
        return nullptr;
    }
    // Every second the measurement closes reaches the files within a tenth of a second.
    self->timer_.setInterval(100);
    connect(&self->timer_, &QTimer::timeout, self.get(), &LevelReports::poll);
    self->timer_.start();

    if (options.metrics) {
        // Runs on the server's threads: the reports guard what they hand over, the rest are
        // atomics.
        auto text = [reports = self->reports_.get(),
                     name = meterName(options)](const fm::platform::HttpRequest&) {
            fm::report::MeterReading extras;
            extras.rawLevel = fm::audio::rmsValue.load(std::memory_order_relaxed);
            extras.framesDropped = fm::platform::AudioFileWriter::framesDroppedInProcess();
            fm::platform::HttpResponse response;
            response.contentType = "text/plain; version=0.0.4; charset=utf-8";
            response.body = reports->metricsText(name, extras);
            return response;
        };
        fm::platform::HttpServer::Options serverOptions;
        serverOptions.address = *options.metrics;
        std::string serverError;
        self->metrics_ = fm::platform::HttpServer::start(
            serverOptions, fm::platform::HttpRoutes().exact("/metrics", text), &serverError);
        if (self->metrics_) {
            say("serving metrics at " + self->metrics_->url("/metrics"));
        } else {
            say("--metrics: " + serverError + "; the meters keep running without metrics");
        }
    }
    return self;
}

bool LevelReports::eventUnderWay() const {
    return reports_->eventUnderWay();
}

LevelReports::~LevelReports() {
    metrics_.reset();
    // The seconds measured up to the end are written before the files close.
    if (reports_) {
        fm::measure::measurement().settle();
        poll();
    }
}

void LevelReports::poll() {
    fm::report::LevelLogExtras extras;
    extras.rawLevel = fm::audio::rmsValue.load(std::memory_order_relaxed);
    extras.framesDropped = fm::platform::AudioFileWriter::framesDroppedInProcess();
    if (yaw_) {
        extras.yawDegrees = yaw_();
    }
    reports_->poll(std::chrono::system_clock::now(), extras);
}

}  // namespace fm::app
