#include "report/Reports.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/audiofile/RecordingArchive.h"
#include "report/AlertJson.h"
#include "report/LiveJson.h"
#include "report/NumberText.h"
#include "report/SummaryLog.h"

namespace fm::report {

namespace {

// The clip writer's queue holds the pre-roll and this much more: the disk may stall that long.
constexpr double kClipQueueSeconds = 10.0;

Reports::Clock::time_point timeOfNs(std::int64_t ns) {
    return Reports::Clock::time_point(
        std::chrono::duration_cast<Reports::Clock::duration>(std::chrono::nanoseconds(ns)));
}

}  // namespace

Reports::Reports(fm::measure::Measurement& measurement, const Options& options,
                 Clock::time_point start, Say say)
    : measurement_(measurement),
      options_(options),
      say_(std::move(say)),
      stream_(measurement, start),
      periods_(options.period),
      started_(start) {
    if (!options.limits.empty()) {
        limits_ = std::make_unique<fm::measure::LimitWatch>(fm::measure::LimitWatch::Options{
            options.limits, options.limitClearSeconds, options.limitEverySeconds});
        limitsAtPeriod_.assign(options.limits.size(), {0, 0});
        limitStates_ = limits_->states();
    }
}

std::unique_ptr<Reports> Reports::open(fm::measure::Measurement& measurement,
                                       const Options& options, Clock::time_point start, Say say,
                                       std::string* error) {
    std::unique_ptr<Reports> reports(new Reports(measurement, options, start, say));
    auto openFile = [&](const std::string& path, const std::string& header,
                        const char* what) -> std::unique_ptr<RowQueue> {
        bool waiting = false;
        auto file = CsvFile::open(path, header, error, &waiting);
        if (!file) {
            return nullptr;
        }
        if (waiting) {
            say(std::string(what) + " " + path +
                " has no reader yet; its rows are kept and written once one is there");
        }
        return std::make_unique<RowQueue>(std::move(file), what, say);
    };
    if (!options.logPath.empty() &&
        !(reports->log_ = openFile(options.logPath, levelLogHeader(), "the log"))) {
        return nullptr;
    }
    if (!options.logFolder.empty() &&
        !(reports->dayLog_ = DayLog::open(options.logFolder, start, say, error))) {
        return nullptr;
    }
    if (!options.summaryPath.empty() &&
        !(reports->summary_ = openFile(options.summaryPath, summaryHeader(), "the summary"))) {
        return nullptr;
    }
    const auto& thresholds = options.eventThresholds;
    if ((thresholds.lafDb || thresholds.peakDb) && !reports->startEvents(error)) {
        return nullptr;
    }
    return reports;
}

// The program keeps the events' list itself: one with an older version's columns is kept
// beside it under a name of its own, and a new one is started, rather than the start refused.
void Reports::keepOlderEventList(const std::string& list) {
    std::ifstream in(list);
    std::string first;
    const std::string header = eventLogHeader();
    if (!std::getline(in, first) || first == header.substr(0, header.find('\n'))) {
        return;
    }
    in.close();
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    const std::string kept = list.substr(0, list.size() - 4) + "-before-" + stamp + ".csv";
    if (std::rename(list.c_str(), kept.c_str()) == 0) {
        say_(list + " had another version's columns: kept as " + kept + "; a new list is begun");
    }
}

bool Reports::startEvents(std::string* error) {
    const std::string& folder = options_.eventsFolder;
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = folder + ": not a folder (a link or a file is in its place)";
        return false;
    }
    const std::string list = folder + "/events.csv";
    if (::lstat(list.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        *error = list + ": a symbolic link; the events are never written through one";
        return false;
    }
    keepOlderEventList(list);
    auto file = CsvFile::open(list, eventLogHeader(), error);
    if (!file) {
        return false;
    }
    eventLog_ = std::make_unique<RowQueue>(std::move(file), "the events list", say_);

    const double rate = measurement_.sampleRate();
    EventClips::Options clips;
    clips.folder = folder;
    clips.budgetBytes = options_.eventsBudgetBytes;
    clips.sampleRate = static_cast<int>(std::lround(rate));
    clips.queueFrames = static_cast<std::size_t>(
        std::llround((std::max(options_.preRollSeconds, 0.0) + kClipQueueSeconds) * rate));
    clips_ = std::make_unique<EventClips>(clips);
    EventCapture::Options capture;
    capture.thresholds = options_.eventThresholds;
    capture.preRollSeconds = options_.preRollSeconds;
    capture.postRollSeconds = options_.postRollSeconds;
    capture.sampleRate = rate;
    capture_ = std::make_unique<EventCapture>(capture, measurement_.meter(), *clips_);
    measurement_.setObserver(capture_.get());
    return true;
}

Reports::~Reports() {
    finish();
}

std::size_t Reports::finish() {
    if (finished_) {
        return unwritten_;
    }
    finished_ = true;
    if (capture_) {
        // An event under way ends with what was measured; its clip and row are written.
        measurement_.setObserver(nullptr);
        capture_->finish();
        clips_->stop();
        takeEvents();
        capture_.reset();
        clips_.reset();
    }
    if (summary_) {
        if (auto partial = periods_.finish()) {
            summary_->add(summaryPeriodRow(*partial), std::chrono::steady_clock::now());
            if (limits_) {
                limitsBefore_.clear();
                for (const auto& state : limits_->states()) {
                    limitsBefore_.emplace_back(state.secondsOver, state.episodes);
                }
                writeLimitRows(*partial);
            }
        }
    }
    for (RowQueue* queue : {log_.get(), summary_.get(), eventLog_.get()}) {
        if (queue != nullptr) {
            unwritten_ += queue->finish();
        }
    }
    return unwritten_;
}

void Reports::reopen() {
    const auto steady = std::chrono::steady_clock::now();
    for (RowQueue* queue : {log_.get(), summary_.get(), eventLog_.get()}) {
        if (queue != nullptr) {
            queue->reopen(steady);
        }
    }
}

void Reports::poll(Clock::time_point now, const LevelLogExtras& extras) {
    if (finished_) {
        return;
    }
    stream_.poll(now, std::chrono::steady_clock::now(),
                 [&](const fm::measure::SecondRecord& second) { take(second, extras); });
    takeEvents();
    const auto steady = std::chrono::steady_clock::now();
    for (RowQueue* queue : {log_.get(), summary_.get(), eventLog_.get()}) {
        if (queue != nullptr) {
            queue->retry(steady);
        }
    }
    if (dayLog_) {
        dayLog_->retry(steady);
    }
}

void Reports::take(const fm::measure::SecondRecord& second, const LevelLogExtras& extras) {
    const auto steady = std::chrono::steady_clock::now();
    if (second.clockStepSeconds != 0.0) {
        char size[32];
        std::snprintf(size, sizeof size, "%+.3f", second.clockStepSeconds);
        say_(std::string("the wall clock stepped by ") + size + " s; the second ending " +
             utcTimeWithMilliseconds(second.closedAt) + " is at the new time" +
             (second.clockStepSeconds < 0.0 ? " and the period under way was closed incomplete"
                                            : ""));
    }
    std::vector<fm::measure::LimitAlert> alerts;
    LevelLogExtras withLimits = extras;
    withLimits.limits = takeLimits(second, &alerts);
    if (log_ || dayLog_) {
        std::string row = levelLogRow(second, withLimits);
        if (dayLog_) {
            dayLog_->add(second.closedAt, log_ ? row : std::move(row), steady);
        }
        if (log_) {
            log_->add(std::move(row), steady);
        }
    }
    std::optional<fm::measure::PeriodValues> closed = periods_.add(second);
    std::optional<fm::measure::DayValues> day = days_.add(second);
    if (summary_) {
        if (closed) {
            summary_->add(summaryPeriodRow(*closed), steady);
            writeLimitRows(*closed);
        }
        if (day) {
            summary_->add(summaryDayRow(*day), steady);
        }
    }
    if (listener_ != nullptr) {
        listener_->second(second);
        if (closed) {
            listener_->period(*closed);
        }
        if (day) {
            listener_->day(*day);
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    second_ = second;
    if (second.clockStepSeconds != 0.0) {
        lastClockStep_ = second.clockStepSeconds;
        ++clockSteps_;
    }
    run_.add(second);
    if (closed) {
        period_ = closed;
    }
    if (day) {
        day_ = day;
    }
    trend_.add(second);
    if (extras.yawDegrees && fm::measure::hasLevels(second.input)) {
        direction_.add(*extras.yawDegrees, second.meanSquareA, second.calibrationOffsetDb);
    }
    if (limits_) {
        limitStates_ = limits_->states();
        for (const auto& alert : alerts) {
            alerts_.push_front(alert);
        }
        while (alerts_.size() > kAlertsKept) {
            alerts_.pop_back();
        }
    }
    lock.unlock();
    if (options_.onAlert) {
        for (const auto& alert : alerts) {
            options_.onAlert(alert);
        }
    }
}

std::string Reports::takeLimits(const fm::measure::SecondRecord& second,
                                std::vector<fm::measure::LimitAlert>* alerts) {
    if (!limits_) {
        return "";
    }
    if (fm::measure::hasLevels(second.input) && limitsCalibratedSaid_ != second.calibrated) {
        // Said when the levels first come and whenever their unit changes.
        limitsCalibratedSaid_ = second.calibrated;
        say_(second.calibrated ? "the limits compare in dB (the levels are calibrated)"
                               : "the limits compare in dBFS (the levels are not calibrated)");
        for (const auto& limit : limits_->limits()) {
            if (!second.calibrated && limit.levelDb > 0.0) {
                say_("the limit " + limit.name +
                     " lies above 0 dBFS, which levels that are not calibrated hardly reach: "
                     "was it meant for a calibrated meter (--calibration DB, or the key K)?");
            }
        }
    }
    limitsBefore_.clear();
    for (const auto& state : limits_->states()) {
        limitsBefore_.emplace_back(state.secondsOver, state.episodes);
    }
    limits_->add(second, alerts);
    for (auto& alert : *alerts) {
        // The clips of the events that overlap the episode (so far).
        const auto end =
            alert.kind == fm::measure::LimitAlert::Kind::Cleared ? alert.end : alert.time;
        for (auto event = events_.rbegin(); event != events_.rend(); ++event) {
            if (event->kept && event->start < end && event->end > alert.start) {
                alert.clips.push_back(event->clip);
            }
        }
    }
    std::string held;
    for (const auto& state : limits_->states()) {
        if (state.held) {
            held += (held.empty() ? "" : ";") + state.name;
        }
    }
    return held;
}

void Reports::nameClipInAlerts(const EventSummary& event) {
    // An event that ends after its episode's alert was made is named in the kept alert: the
    // page's list of episodes shows its clip.
    constexpr std::size_t kRecent = 50;
    for (std::size_t i = 0; event.kept && i < std::min(alerts_.size(), kRecent); ++i) {
        fm::measure::LimitAlert& alert = alerts_[i];
        const auto end =
            alert.kind == fm::measure::LimitAlert::Kind::Cleared ? alert.end : alert.time;
        if (event.start < end && event.end > alert.start &&
            std::find(alert.clips.begin(), alert.clips.end(), event.clip) == alert.clips.end()) {
            alert.clips.push_back(event.clip);
        }
    }
}

void Reports::writeLimitRows(const fm::measure::PeriodValues& period) {
    if (!limits_ || !summary_ || limitsBefore_.size() != limitsAtPeriod_.size()) {
        return;
    }
    const auto steady = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < limitsBefore_.size(); ++i) {
        summary_->add(summaryLimitRow(period, limits_->limits()[i].name,
                                      limitsBefore_[i].first - limitsAtPeriod_[i].first,
                                      limitsBefore_[i].second - limitsAtPeriod_[i].second),
                      steady);
    }
    limitsAtPeriod_ = limitsBefore_;
}

void Reports::setCalibrationDate(const std::string& date) {
    std::lock_guard<std::mutex> lock(mutex_);
    calibrationDate_ = date;
}

void Reports::withView(const std::function<void(const fm::measure::MeasurementView&,
                                                fm::measure::InputKind)>& write) const {
    const fm::measure::SoundLevelSnapshot now = measurement_.meter().read();
    const fm::measure::BandLevels bands = measurement_.bandLevels();
    const fm::measure::InputKind input = measurement_.input();
    fm::measure::MeasurementView view;
    view.now = &now;
    view.bands = &bands;
    view.measuring = fm::measure::hasLevels(input);
    std::lock_guard<std::mutex> lock(mutex_);
    view.second = second_.index > 0 ? &second_ : nullptr;
    view.run = &run_;
    view.period = period_ ? &*period_ : nullptr;
    view.day = day_ ? &*day_ : nullptr;
    view.event = events_.empty() ? nullptr : &events_.front().values;
    write(view, input);
}

void Reports::takeEvents() {
    if (!clips_) {
        return;
    }
    const auto steady = std::chrono::steady_clock::now();
    EventClips::Finished done;
    while (clips_->takeFinished(&done)) {
        EventSummary event;
        event.start = timeOfNs(done.event.startNs);
        event.end = timeOfNs(done.event.endNs);
        event.trigger = done.event.trigger;
        event.values = done.event.values;
        event.clip = done.clip;
        event.kept = !done.clip.empty();
        event.clipWrittenSeconds =
            static_cast<double>(done.writtenFrames) / measurement_.sampleRate();
        event.whyNotKept = done.refusal;
        eventLog_->add(eventLogRow(event), steady);
        if (listener_ != nullptr) {
            listener_->event(event);
        }
        if (event.kept) {
            refusingClips_ = false;
            // One line an event: a monitor's journal tells when something loud happened.
            const auto seconds = std::chrono::duration<double>(event.end - event.start).count();
            std::string duration;
            appendFixed(&duration, seconds, 1);
            say_("event (" + std::string(fm::measure::eventTriggerName(event.trigger)) + ") at " +
                 fm::platform::recordedDateText(Clock::to_time_t(event.start)) + ", " + duration +
                 " s: " + event.clip);
        } else if (!refusingClips_) {
            // Said once, and again only after a clip was kept since.
            say_("the event at " + fm::platform::recordedDateText(Clock::to_time_t(event.start)) +
                 " is not captured as a clip: " + done.refusal +
                 "; events.csv lists it as not kept, and nothing earlier is removed");
            refusingClips_ = true;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        nameClipInAlerts(event);
        events_.push_front(std::move(event));
        if (events_.size() > kEventsKept) {
            events_.pop_back();
        }
        ++eventsTotal_;
    }
    if (const std::uint64_t lost = capture_ ? capture_->eventsLost() : 0; lost > eventsLostSaid_) {
        say_(std::to_string(lost - eventsLostSaid_) +
             " events could not be handed to the clip writer, which was far behind; they are "
             "not listed");
        eventsLostSaid_ = lost;
    }
}

std::vector<EventSummary> Reports::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {events_.begin(), events_.end()};
}

std::vector<fm::measure::LimitAlert> Reports::alerts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {alerts_.begin(), alerts_.end()};
}

std::string Reports::alertsJson(const std::string& meterName) const {
    return fm::report::alertsJson(alerts(), meterName);
}

std::vector<fm::measure::LimitState> Reports::limitStates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return limitStates_;
}

std::string Reports::metricsText(const std::string& meterName, const MeterReading& extras) const {
    MeterReading reading = extras;
    const fm::measure::SoundLevelSnapshot now = measurement_.meter().read();
    const fm::measure::BandLevels bands = measurement_.bandLevels();
    reading.input = measurement_.input();
    reading.measurementFramesDropped = measurement_.framesDropped();
    reading.view.now = &now;
    reading.view.bands = &bands;
    reading.view.measuring = fm::measure::hasLevels(reading.input);
    reading.period = fm::measure::periodName(options_.period);
    std::lock_guard<std::mutex> lock(mutex_);
    reading.view.second = second_.index > 0 ? &second_ : nullptr;
    reading.view.run = &run_;
    reading.view.period = period_ ? &*period_ : nullptr;
    reading.view.day = day_ ? &*day_ : nullptr;
    reading.view.event = events_.empty() ? nullptr : &events_.front().values;
    reading.eventsTotal = eventsTotal_;
    reading.lostFrames = measurement_.lostFrames();
    reading.clockSteps = clockSteps_;
    reading.lastClockStepSeconds = lastClockStep_;
    reading.limits = limitStates_;
    return prometheusText(meterName, reading);
}

std::string Reports::liveJson(const std::string& meterName, std::vector<float> spectrum,
                              bool full) const {
    LiveReading reading;
    reading.meterName = meterName;
    reading.time = Clock::now();
    reading.started = started_;
    reading.spectrum = std::move(spectrum);
    reading.sampleRate = measurement_.sampleRate();
    std::string json;
    withView([&](const fm::measure::MeasurementView& view, fm::measure::InputKind input) {
        reading.view = view;
        reading.input = input;
        reading.calibrationDate = calibrationDate_;
        reading.direction = &direction_;
        reading.lostFrames = measurement_.lostFrames();
        reading.clockSteps = clockSteps_;
        reading.limits = limitStates_;
        if (second_.index > 0) {
            reading.lastSecond = trendSecondOf(second_);
        }
        json = full ? fm::report::liveNowJson(reading) : fm::report::liveStreamJson(reading);
    });
    return json;
}

std::string Reports::liveNowJson(const std::string& meterName, std::vector<float> spectrum) const {
    return liveJson(meterName, std::move(spectrum), true);
}

std::string Reports::liveStreamJson(const std::string& meterName,
                                    std::vector<float> spectrum) const {
    return liveJson(meterName, std::move(spectrum), false);
}

std::string Reports::levelTrendJson() const {
    std::vector<TrendSecond> seconds;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seconds = trend_.seconds();
    }
    return fm::report::levelTrendJson(seconds);
}

}  // namespace fm::report
