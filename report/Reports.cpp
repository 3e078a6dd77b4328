#include "report/Reports.h"

#include "report/LiveJson.h"
#include "report/SummaryLog.h"

namespace fm::report {

Reports::Reports(fm::measure::Measurement& measurement, const Options& options,
                 Clock::time_point start, Say say)
    : measurement_(measurement),
      options_(options),
      say_(std::move(say)),
      stream_(measurement, start),
      periods_(options.period),
      started_(start) {}

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
    if (!options.summaryPath.empty() &&
        !(reports->summary_ = openFile(options.summaryPath, summaryHeader(), "the summary"))) {
        return nullptr;
    }
    return reports;
}

Reports::~Reports() {
    if (summary_) {
        if (auto partial = periods_.finish()) {
            summary_->add(summaryPeriodRow(*partial), std::chrono::steady_clock::now());
        }
    }
}

void Reports::poll(Clock::time_point now, const LevelLogExtras& extras) {
    stream_.poll(now, [&](const fm::measure::SecondRecord& second) { take(second, extras); });
    const auto steady = std::chrono::steady_clock::now();
    for (RowQueue* queue : {log_.get(), summary_.get()}) {
        if (queue != nullptr) {
            queue->retry(steady);
        }
    }
}

void Reports::take(const fm::measure::SecondRecord& second, const LevelLogExtras& extras) {
    const auto steady = std::chrono::steady_clock::now();
    if (log_) {
        log_->add(levelLogRow(second, extras), steady);
    }
    std::optional<fm::measure::PeriodValues> closed = periods_.add(second);
    std::optional<fm::measure::DayValues> day = days_.add(second);
    if (summary_) {
        if (closed) {
            summary_->add(summaryPeriodRow(*closed), steady);
        }
        if (day) {
            summary_->add(summaryDayRow(*day), steady);
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    second_ = second;
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
}

void Reports::setCalibrationDate(const std::string& date) {
    std::lock_guard<std::mutex> lock(mutex_);
    calibrationDate_ = date;
}

void Reports::withView(const std::function<void(const fm::measure::MeasurementView&,
                                                fm::measure::InputKind)>& write) const {
    const fm::measure::SoundLevelSnapshot now = measurement_.meter().read();
    const fm::measure::InputKind input = measurement_.input();
    fm::measure::MeasurementView view;
    view.now = &now;
    view.measuring = fm::measure::hasLevels(input);
    std::lock_guard<std::mutex> lock(mutex_);
    view.second = second_.index > 0 ? &second_ : nullptr;
    view.run = &run_;
    view.period = period_ ? &*period_ : nullptr;
    view.day = day_ ? &*day_ : nullptr;
    write(view, input);
}

std::string Reports::metricsText(const std::string& meterName, const MeterReading& extras) const {
    MeterReading reading = extras;
    const fm::measure::SoundLevelSnapshot now = measurement_.meter().read();
    reading.input = measurement_.input();
    reading.measurementFramesDropped = measurement_.framesDropped();
    reading.view.now = &now;
    reading.view.measuring = fm::measure::hasLevels(reading.input);
    reading.period = fm::measure::periodName(options_.period);
    std::lock_guard<std::mutex> lock(mutex_);
    reading.view.second = second_.index > 0 ? &second_ : nullptr;
    reading.view.run = &run_;
    reading.view.period = period_ ? &*period_ : nullptr;
    reading.view.day = day_ ? &*day_ : nullptr;
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
