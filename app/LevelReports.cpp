#include "app/LevelReports.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "audio/SignalState.h"
#include "measure/SoundLevelSnapshot.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audiofile/AudioFileWriter.h"
#include "platform/http/HttpServer.h"
#include "report/LevelLog.h"
#include "report/MetricsText.h"
#include "screen/ViewController.h"

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

LevelReports::LevelReports(const fm::platform::DeviceOptions& options,
                           fm::screen::ViewController* controller)
    : controller_(controller), logPath_(options.logFile) {
    if (!logPath_.empty()) {
        std::string error;
        log_ = fm::report::LevelLogFile::open(logPath_, &error);
        if (log_) {
            // A row for each second the meter closes, so that no second is logged twice or
            // left out while the wall clock and the audio clock drift apart.
            logTimer_.setInterval(100);
            connect(&logTimer_, &QTimer::timeout, this, &LevelReports::pollLevels);
            logTimer_.start();
        } else {
            say("cannot write the log " + error + "; the meters keep running without it");
        }
    }
    if (options.metrics) {
        // Runs on the server's thread: only atomics are read, never the audio thread's buffers
        // or the main thread's objects.
        auto text = [name = meterName(options)](const fm::platform::HttpRequest&) {
            fm::report::MeterReading reading;
            reading.levels = fm::measure::readSoundLevels();
            reading.rawLevel = fm::audio::rmsValue.load(std::memory_order_relaxed);
            reading.framesDropped = fm::platform::AudioFileWriter::framesDroppedInProcess();
            fm::platform::HttpResponse response;
            response.contentType = "text/plain; version=0.0.4; charset=utf-8";
            response.body = fm::report::prometheusText(name, reading);
            return response;
        };
        fm::platform::HttpServer::Options serverOptions;
        serverOptions.address = *options.metrics;
        std::string error;
        metrics_ = fm::platform::HttpServer::start(
            serverOptions, fm::platform::HttpRoutes().exact("/metrics", text), &error);
        if (metrics_) {
            say("serving metrics at " + metrics_->url("/metrics"));
        } else {
            say("--metrics: " + error + "; the meters keep running without metrics");
        }
    }
}

LevelReports::~LevelReports() = default;

void LevelReports::pollLevels() {
    const fm::measure::SoundLevelSnapshot levels = fm::measure::readSoundLevels();
    const std::uint64_t framesPerSecond =
        static_cast<std::uint64_t>(fm::platform::captureFormat().mSampleRate);
    const std::uint64_t second = levels.framesCaptured / framesPerSecond;
    if (second > loggedSecond_) {
        loggedSecond_ = second;
        writeRow(levels);
    }
}

void LevelReports::writeRow(const fm::measure::SoundLevelSnapshot& levels) {
    fm::report::LevelLogExtras extras;
    extras.rawLevel = fm::audio::rmsValue.load(std::memory_order_relaxed);
    extras.framesDropped = fm::platform::AudioFileWriter::framesDroppedInProcess();
    if (controller_ != nullptr && controller_->motionManager) {
        if (auto motion = controller_->motionManager->deviceMotion()) {
            extras.yawDegrees = motion->attitude.yaw * 180.0 / 3.14159265358979323846;
        }
    }
    const std::string row =
        fm::report::levelLogRow(std::chrono::system_clock::now(), levels, extras);
    std::string error;
    if (log_->append(row, &error)) {
        if (logFailing_) {
            say("the log " + logPath_ + " is written again");
            logFailing_ = false;
        }
    } else if (!logFailing_) {
        say("cannot write the log " + error +
            "; the meters keep running, the log is tried "
            "again every second");
        logFailing_ = true;
    }
}

}  // namespace fm::app
