#pragma once
// The measurement's reports beside the screen, made before it: every second goes to the log
// (--log) and the summary (--summary), loud moments to events/ (--event-above, --event-peak),
// and the web server (--http, also named --metrics) serves the live page, its stream, the metrics
// and the downloads. A report that cannot start stops the program (a logger that logs nothing
// must not run for hours); one that fails later is said once and tried again, and the meters
// keep running. A server bound beyond the loopback address asks every request but /metrics for
// the access token.
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "instrument/DeviceOptions.h"
#include "measure/SecondRecord.h"

namespace fm::report {
class Reports;
}
namespace fm::measure {
class Calibration;
struct LimitAlert;
}  // namespace fm::measure
namespace fm::platform {
class HttpServer;
}
namespace fm::instrument {
class Deliveries;
class AlertMail;
}  // namespace fm::instrument

namespace fm::instrument {

class LevelReports : public QObject {
    Q_OBJECT
  public:
    using Yaw = std::function<std::optional<double>()>;

    // Null, with *error saying what and why, when a report cannot start.
    static std::unique_ptr<LevelReports> start(const fm::instrument::DeviceOptions& options,
                                               std::string* error);
    ~LevelReports() override;

    // The device's turn in degrees for the log and the direction map, once the screen's motion
    // sources exist.
    void setYaw(Yaw yaw) { yaw_ = std::move(yaw); }
    // The calibration whose date the page shows (null: none); it must outlive this object.
    void setCalibration(const fm::measure::Calibration* calibration);

    // The live page's address, without its token ("" without --http).
    const std::string& pageUrl() const { return pageUrl_; }

    // Any thread: the deliveries' state for a status line ("" without any).
    std::string deliveryStatus() const;

    // Main thread: the newest second handed to the writers.
    const fm::measure::SecondRecord& lastSecond() const;

    // At the end: the seconds measured so far are written and every row kept from a failure is
    // tried once more. Returns how many rows never reached their files (said with their counts).
    std::size_t finish();
    // Main thread: the spectrum is analysed only while the page's stream has a reader (the
    // program without a screen); otherwise always.
    void setSpectrumOnDemand(bool onDemand);
    // Main thread, for the program without a screen: unless the page's stream has a reader, the
    // measuring thread wakes about once a second and the seconds are taken every `interval` (a
    // second at most); `afterPoll` runs after each taking, in the same wake-up.
    void setQuietPace(std::chrono::milliseconds interval, std::function<void()> afterPoll);

    // Main thread: every output file opened again at its path (after logrotate moved it).
    void reopen();

    // Whether a loud moment is being captured now (--event-above, --event-peak).
    bool eventUnderWay() const;
    // Every alert of the limits (--limit) goes to each listener, on the main thread.
    void addAlertListener(std::function<void(const fm::measure::LimitAlert&)> listener);
    // The names of the limits raised now.
    std::vector<std::string> raisedLimits() const;

    // The meter's name in the metrics: --name, else the host's name.
    static std::string meterName(const fm::instrument::DeviceOptions& options);

  private:
    LevelReports() = default;
    void poll();
    void takeCalibrationDate();

    static bool accessToken(const fm::instrument::DeviceOptions& options, std::string* token,
                            std::string* error);
    bool startServer(const fm::instrument::DeviceOptions& options, const std::string& token,
                     std::string* error);

    // Made before the reports, which tell them every row, and gone after them.
    std::unique_ptr<Deliveries> deliveries_;
    std::unique_ptr<AlertMail> alertMail_;
    std::unique_ptr<fm::report::Reports> reports_;
    Yaw yaw_;
    const fm::measure::Calibration* calibration_ = nullptr;
    std::string calibrationDate_;
    std::string meterName_;
    std::string pageUrl_;
    QTimer timer_;
    std::unique_ptr<fm::platform::HttpServer> server_;
    unsigned polls_ = 0;
    bool spectrumOnDemand_ = false;
    int idleIntervalMs_ = 500;
    int idleBlocksPerWake_ = 0;  // 0: the measurement's own pace
    std::function<void()> afterPoll_;
    std::vector<std::function<void(const fm::measure::LimitAlert&)>> alertListeners_;
};

}  // namespace fm::instrument
