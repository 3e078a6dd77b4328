#pragma once
// Everything the measurement is written to, fed every second from one stream: the log
// (--log), the summary of periods and days (--summary), the run's statistics, the loud moments
// (events/: their clips and events.csv), and what the metrics and the live page read. Made
// before any screen and independent of it. The main thread polls it; the web server's threads
// read it through metricsText() and events(). Qt-free.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measure/DayEveningNight.h"
#include "measure/EventDetector.h"
#include "measure/LimitWatch.h"
#include "measure/Measurement.h"
#include "measure/PeriodSummary.h"
#include "measure/RunStatistics.h"
#include "measure/SecondStream.h"
#include "report/DayLog.h"
#include "report/DirectionMap.h"
#include "report/EventCapture.h"
#include "report/EventClips.h"
#include "report/EventLog.h"
#include "report/LevelLog.h"
#include "report/LevelTrend.h"
#include "report/MetricsText.h"
#include "report/ReportListener.h"
#include "report/RowQueue.h"

namespace fm::report {

class Reports {
  public:
    using Say = std::function<void(const std::string&)>;
    using Clock = std::chrono::system_clock;
    using Alert = fm::measure::LimitAlert;

    struct Options {
        std::string logPath;      // "" = no log
        std::string logFolder;    // "" = no log for each day
        std::string summaryPath;  // "" = no summary
        fm::measure::Period period = fm::measure::Period::FifteenMinutes;
        // The loud moments: captured when a threshold is given, into eventsFolder.
        fm::measure::EventDetector::Thresholds eventThresholds;
        double preRollSeconds = 5.0;
        double postRollSeconds = 5.0;
        std::uint64_t eventsBudgetBytes = 500'000'000;
        std::string eventsFolder;
        // Limits on the levels, followed each second; every alert they raise or clear goes to
        // onAlert on the main thread (never blocking: a sender queues it).
        std::vector<fm::measure::LimitSpec> limits;
        int limitClearSeconds = 60;
        int limitEverySeconds = 600;
        std::function<void(const Alert&)> onAlert;
    };
    // This run's events that the main thread keeps, newest first, for the page.
    static constexpr std::size_t kEventsKept = 10000;
    // The alerts kept for /api/alerts and the page.
    static constexpr std::size_t kAlertsKept = 500;

    // Opens the files. Null when one cannot be opened, with *error naming it and why (the
    // program then stops: a logger that logs nothing must not run for hours).
    static std::unique_ptr<Reports> open(fm::measure::Measurement& measurement,
                                         const Options& options, Clock::time_point start, Say say,
                                         std::string* error);
    // Writes the period under way (marked incomplete) and closes the files (finish() if not
    // called).
    ~Reports();

    // Main thread, at the end: ends the event under way, writes the period under way (marked
    // incomplete) and tries every row kept from a failure once more. Returns how many rows never
    // reached their files, each file's count said; the program's status then says it failed.
    // Nothing is written after it. Idempotent.
    std::size_t finish();
    // Main thread: opens every file at its path again (SIGHUP, after logrotate moved them).
    void reopen();

    // Main thread, about ten times a second: every second due goes to the writers.
    void poll(Clock::time_point now, const LevelLogExtras& extras);

    // Any thread: the metrics text, with the values the main thread has seen so far.
    std::string metricsText(const std::string& meterName, const MeterReading& extras) const;

    // Any thread: the live page's JSON (report/LiveJson.h) with every quantity and its
    // description, or the stream's lighter event; `spectrum` (the 320 band powers) is sent when
    // not empty. And the trend of the last ten minutes.
    std::string liveNowJson(const std::string& meterName, std::vector<float> spectrum) const;
    std::string liveStreamJson(const std::string& meterName, std::vector<float> spectrum) const;
    std::string levelTrendJson() const;

    // Main thread: when the calibration in use was set, for the page ("" for this run's option).
    void setCalibrationDate(const std::string& date);

    // Main thread: who hears each row from now on (null: nobody); it must outlive this object
    // or be taken away first.
    void setListener(ReportListener* listener) { listener_ = listener; }

    // Main thread: the last second handed out.
    const fm::measure::SecondRecord& lastSecond() const { return stream_.last(); }

    // Any thread: this run's events that have ended, newest first (at most kEventsKept).
    std::vector<EventSummary> events() const;
    // Any thread: this run's alerts, newest first (at most kAlertsKept), as JSON for
    // /api/alerts; and the limits' states after the last second.
    std::vector<fm::measure::LimitAlert> alerts() const;
    std::string alertsJson(const std::string& meterName) const;
    std::vector<fm::measure::LimitState> limitStates() const;

    // Any thread: whether a loud moment is being captured now.
    bool eventUnderWay() const { return capture_ && capture_->underWay(); }

  private:
    Reports(fm::measure::Measurement& measurement, const Options& options, Clock::time_point start,
            Say say);
    bool startEvents(std::string* error);
    void keepOlderEventList(const std::string& list);
    void take(const fm::measure::SecondRecord& second, const LevelLogExtras& extras);
    void takeEvents();
    // The limits' second: its alerts are made and kept; returns the names that held.
    std::string takeLimits(const fm::measure::SecondRecord& second,
                           std::vector<fm::measure::LimitAlert>* alerts);
    void writeLimitRows(const fm::measure::PeriodValues& period);
    void nameClipInAlerts(const EventSummary& event);  // with mutex_ held
    // Calls `write` with mutex_ held and the measurement's values as the page shows them, read
    // as metricsText reads them (`now` just before the lock).
    void withView(const std::function<void(const fm::measure::MeasurementView&,
                                           fm::measure::InputKind)>& write) const;
    std::string liveJson(const std::string& meterName, std::vector<float> spectrum,
                         bool full) const;

    fm::measure::Measurement& measurement_;
    Options options_;
    Say say_;
    fm::measure::SecondStream stream_;
    std::unique_ptr<RowQueue> log_;
    std::unique_ptr<DayLog> dayLog_;
    std::unique_ptr<RowQueue> summary_;
    fm::measure::PeriodAccumulator periods_;
    fm::measure::DayEveningNightAccumulator days_;
    std::unique_ptr<RowQueue> eventLog_;
    std::unique_ptr<EventClips> clips_;
    std::unique_ptr<EventCapture> capture_;  // follows the measurement while it is set
    bool refusingClips_ = false;             // a refused clip was said, none kept since
    bool finished_ = false;
    std::size_t unwritten_ = 0;  // rows finish() could not write
    std::uint64_t eventsLostSaid_ = 0;
    std::unique_ptr<fm::measure::LimitWatch> limits_;  // null without limits
    // Each limit's seconds over and episodes before this second, and when the period began.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> limitsBefore_, limitsAtPeriod_;
    std::optional<bool> limitsCalibratedSaid_;
    Clock::time_point started_;
    ReportListener* listener_ = nullptr;

    // What the other threads read, guarded by mutex_ (held briefly, never across a write).
    mutable std::mutex mutex_;
    fm::measure::SecondRecord second_;
    fm::measure::RunStatistics run_;
    std::optional<fm::measure::PeriodValues> period_;
    std::optional<fm::measure::DayValues> day_;
    std::deque<EventSummary> events_;  // newest first
    std::uint64_t eventsTotal_ = 0;
    DirectionMap direction_;
    LevelTrend trend_;
    std::string calibrationDate_;
    double lastClockStep_ = 0.0;
    std::uint64_t clockSteps_ = 0;
    std::deque<fm::measure::LimitAlert> alerts_;  // newest first
    std::vector<fm::measure::LimitState> limitStates_;
};

}  // namespace fm::report
