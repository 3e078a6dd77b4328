#include "instrument/LevelReports.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "audio/SignalState.h"
#include "instrument/AlertMail.h"
#include "instrument/Deliveries.h"
#include "instrument/Say.h"
#include "measure/Calibration.h"
#include "measure/Limit.h"
#include "measure/Measurement.h"
#include "platform/audiofile/AudioFileWriter.h"
#include "platform/cpu/VectorState.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/http/AccessToken.h"
#include "platform/http/HttpServer.h"
#include "report/AlertJson.h"
#include "report/LiveSite.h"
#include "report/Reports.h"

namespace fm::instrument {

namespace {

std::string hostName() {
    char host[256] = "";
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        return "";
    }
    return host;
}

// Only this machine reaches a server on a loopback address: there it needs no token.
bool isLoopback(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool isAnyAddress(const std::string& host) {
    return host == "0.0.0.0" || host == "::";
}

// The spectrum's 320 band powers now; the audio thread stores them as relaxed atomics. None
// while it is not analysed: the page then leaves it out.
std::vector<float> spectrumNow() {
    if (!fm::audio::spectrumWanted.load(std::memory_order_relaxed)) {
        return {};
    }
    std::vector<float> power(fm::audio::spectrumPower.size());
    for (std::size_t k = 0; k < power.size(); ++k) {
        power[k] = fm::audio::spectrumPower[k].load(std::memory_order_relaxed);
    }
    return power;
}

fm::report::MeterReading meterExtras() {
    fm::report::MeterReading extras;
    if (fm::audio::phoneScreen.load(std::memory_order_relaxed)) {
        extras.rawLevel = fm::audio::rmsValue.load(std::memory_order_relaxed);
    }
    extras.framesDropped = fm::platform::AudioFileWriter::framesDroppedInProcess();
    return extras;
}

}  // namespace

std::string LevelReports::meterName(const fm::instrument::DeviceOptions& options) {
    if (!options.meterName.empty()) {
        return options.meterName;
    }
    const std::string host = hostName();
    return host.empty() ? "fieldmeter" : host;
}

std::unique_ptr<LevelReports> LevelReports::start(const fm::instrument::DeviceOptions& options,
                                                  std::string* error) {
    std::unique_ptr<LevelReports> self(new LevelReports());
    std::string token;
    if (options.metrics && !accessToken(options, &token, error)) {
        return nullptr;
    }
    fm::report::Reports::Options files;
    files.logPath = options.logFile;
    files.logFolder = options.logFolder;
    files.summaryPath = options.summaryFile;
    files.period =
        fm::measure::parsePeriod(options.period).value_or(fm::measure::Period::FifteenMinutes);
    files.eventThresholds.lafDb = options.eventAboveDb;
    files.eventThresholds.peakDb = options.eventPeakDb;
    files.preRollSeconds = options.preRollSeconds;
    files.postRollSeconds = options.postRollSeconds;
    files.eventsBudgetBytes = static_cast<std::uint64_t>(std::llround(options.eventsMaxMb * 1e6));
    files.eventsFolder = fm::platform::documentsFolder() + "/events";
    if (auto limits = fm::measure::parseLimits(options.limits, error)) {
        files.limits = std::move(*limits);
    } else {
        return nullptr;
    }
    files.limitClearSeconds = options.limitClearSeconds;
    files.limitEverySeconds = options.limitEverySeconds;
    files.onAlert = [listeners = &self->alertListeners_](const fm::measure::LimitAlert& alert) {
        for (const auto& listener : *listeners) {
            listener(alert);
        }
    };
    self->reports_ = fm::report::Reports::open(fm::measure::measurement(), files,
                                               std::chrono::system_clock::now(), say, error);
    if (!self->reports_) {
        *error = "cannot write " + *error;
        return nullptr;
    }
    self->meterName_ = meterName(options);
    self->deliveries_ =
        Deliveries::start(options, self->meterName_, fm::platform::documentsFolder(), say, error);
    if (!self->deliveries_ && !error->empty()) {
        return nullptr;
    }
    if (self->deliveries_) {
        self->reports_->setListener(self->deliveries_.get());
        self->addAlertListener([d = self->deliveries_.get(),
                                name = self->meterName_](const fm::measure::LimitAlert& alert) {
            d->alert(fm::report::alertJson(alert, name), alert.time);
        });
    }
    if (!options.alertMail.empty()) {
        self->alertMail_ = std::make_unique<AlertMail>(options.alertMail, self->meterName_,
                                                       files.eventsFolder, say);
        self->addAlertListener(
            [m = self->alertMail_.get()](const fm::measure::LimitAlert& alert) { m->send(alert); });
    }
    if (options.metrics && !self->startServer(options, token, error)) {
        return nullptr;
    }
    self->timer_.setInterval(500);  // 100 ms while the page's stream has a reader
    connect(&self->timer_, &QTimer::timeout, self.get(), &LevelReports::poll);
    self->timer_.start();
    return self;
}

std::string LevelReports::deliveryStatus() const {
    return deliveries_ ? deliveries_->statusText() : std::string();
}

const fm::measure::SecondRecord& LevelReports::lastSecond() const {
    return reports_->lastSecond();
}

bool LevelReports::eventUnderWay() const {
    return reports_->eventUnderWay();
}

void LevelReports::addAlertListener(std::function<void(const fm::measure::LimitAlert&)> listener) {
    alertListeners_.push_back(std::move(listener));
}

std::vector<std::string> LevelReports::raisedLimits() const {
    std::vector<std::string> names;
    for (const auto& state : reports_->limitStates()) {
        if (state.raised) {
            names.push_back(state.name);
        }
    }
    return names;
}

// A token that cannot be had stops the program: a page open to the network is never served
// without one.
bool LevelReports::accessToken(const fm::instrument::DeviceOptions& options, std::string* token,
                               std::string* error) {
    if (!options.httpTokenFile.empty()) {
        std::string why;
        *token = fm::platform::readAccessTokenFile(options.httpTokenFile, &why);
        if (token->empty()) {
            *error = "--http-token " + options.httpTokenFile + ": cannot use it: " + why;
            return false;
        }
    } else if (!isLoopback(options.metrics->host)) {
        *token = fm::platform::makeAccessToken(error);
        return !token->empty();
    }
    return true;
}

// A server that cannot listen stops the start: a monitor whose page and metrics were asked for
// must not run for hours without them.
bool LevelReports::startServer(const fm::instrument::DeviceOptions& options,
                               const std::string& token, std::string* error) {
    fm::platform::HttpServer::Options serverOptions;
    serverOptions.address = *options.metrics;
    serverOptions.token = token;
    const std::string& host = serverOptions.address.host;
    fm::report::LiveSiteOptions site;
    site.reports = reports_.get();
    site.meterName = meterName_;
    site.documentsFolder = fm::platform::documentsFolder();
    site.logPath = options.logFile;
    site.summaryPath = options.summaryFile;
    site.logFolder = options.logFolder;
    site.meterExtras = meterExtras;
    site.spectrum = spectrumNow;
    site.moreMetrics = [deliveries = deliveries_.get(), name = meterName_] {
        return deliveries != nullptr ? deliveries->metricsText(name) : std::string();
    };
    std::string serverError;
    server_ = fm::platform::HttpServer::start(serverOptions, fm::report::liveSiteRoutes(site),
                                              &serverError);
    if (!server_) {
        *error = "--http: " + serverError;
        return false;
    }
    say("serving metrics at " + server_->url("/metrics"));
    std::string page = server_->url("/");
    if (isAnyAddress(host) && !hostName().empty()) {
        // Every address of the machine: its name is what another machine opens.
        page = "http://" + hostName() + ":" + std::to_string(server_->port()) + "/";
    }
    pageUrl_ = page;
    if (deliveries_) {
        deliveries_->setPageUrl(page);  // the events' clips are linked without the token
    }
    if (!serverOptions.token.empty()) {
        page += "?token=" + serverOptions.token;
    }
    say("the live page: " + page);
    return true;
}

LevelReports::~LevelReports() {
    finish();
}

std::size_t LevelReports::finish() {
    server_.reset();
    timer_.stop();
    // The seconds measured up to the end are written before the files close.
    if (reports_) {
        fm::measure::measurement().settle();
        poll();
        reports_->setListener(nullptr);
        return reports_->finish();
    }
    return 0;
}

void LevelReports::reopen() {
    reports_->reopen();
}

void LevelReports::setCalibration(const fm::measure::Calibration* calibration) {
    calibration_ = calibration;
    if (deliveries_) {
        deliveries_->announce(calibration != nullptr && calibration->calibrated());
    }
    takeCalibrationDate();  // now: the page may be asked before the first poll
}

void LevelReports::takeCalibrationDate() {
    const std::string date =
        calibration_ != nullptr && calibration_->calibrated() ? calibration_->date() : "";
    if (date != calibrationDate_) {
        calibrationDate_ = date;
        reports_->setCalibrationDate(date);
    }
}

void LevelReports::poll() {
    fm::platform::clearUpperVectorState();  // Qt's event loop leaves it in use
    fm::report::LevelLogExtras extras;
    if (fm::audio::phoneScreen.load(std::memory_order_relaxed)) {
        extras.rawLevel = fm::audio::rmsValue.load(std::memory_order_relaxed);
    }
    extras.framesDropped = fm::platform::AudioFileWriter::framesDroppedInProcess();
    if (yaw_) {
        extras.yawDegrees = yaw_();
    }
    reports_->poll(std::chrono::system_clock::now(), extras);
    takeCalibrationDate();
    // The page's stream is fed ten times a second while someone follows it; otherwise every
    // second the measurement closes reaches the files within half a second, with a fifth of
    // the wake-ups and no stream made for nobody.
    const bool followed = server_ && server_->streamReaders(fm::report::kLiveStreamPath) > 0;
    if (spectrumOnDemand_) {
        fm::audio::spectrumWanted.store(followed, std::memory_order_relaxed);
    }
    const int interval = followed ? 100 : idleIntervalMs_;
    if (timer_.interval() != interval) {
        timer_.setInterval(interval);
        if (idleBlocksPerWake_ > 0) {
            // The stream's ten updates a second need the levels as often.
            fm::measure::measurement().setBlocksPerWake(followed ? 4 : idleBlocksPerWake_);
        }
    }
    if (followed) {
        // The spectrum at half the rate: it is the largest part, and the page needs no more.
        server_->publish(fm::report::kLiveStreamPath,
                         reports_->liveStreamJson(
                             meterName_, ++polls_ % 2 == 0 ? spectrumNow() : std::vector<float>{}));
    }
    if (afterPoll_) {
        afterPoll_();
    }
}

void LevelReports::setQuietPace(std::chrono::milliseconds interval,
                                std::function<void()> afterPoll) {
    idleIntervalMs_ = static_cast<int>(std::clamp<long long>(interval.count(), 50, 1000));
    // About a second of the usual 1024-frame blocks.
    idleBlocksPerWake_ = 43;
    afterPoll_ = std::move(afterPoll);
    fm::measure::measurement().setBlocksPerWake(idleBlocksPerWake_);
    timer_.setInterval(idleIntervalMs_);
}

void LevelReports::setSpectrumOnDemand(bool onDemand) {
    spectrumOnDemand_ = onDemand;
    fm::audio::spectrumWanted.store(!onDemand, std::memory_order_relaxed);
}

}  // namespace fm::instrument
