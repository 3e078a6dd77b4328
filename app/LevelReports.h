#pragma once
// The measurement's reports beside the screen, made before it: every second goes to the log
// (--log) and the summary (--summary), loud moments to events/ (--event-above, --event-peak),
// and the metrics endpoint (--metrics) serves the meter's values. A report that cannot start stops
// the program (a logger that logs nothing must not run for hours); one that fails later is said
// once and tried again, and the meters keep running.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/device/DeviceOptions.h"

namespace fm::report {
class Reports;
}
namespace fm::platform {
class HttpServer;
}

namespace fm::app {

class LevelReports : public QObject {
    Q_OBJECT
  public:
    using Yaw = std::function<std::optional<double>()>;

    // Null, with *error saying what and why, when a report cannot start.
    static std::unique_ptr<LevelReports> start(const fm::platform::DeviceOptions& options,
                                               std::string* error);
    ~LevelReports() override;

    // The device's turn in degrees for the log, once the screen's motion sources exist.
    void setYaw(Yaw yaw) { yaw_ = std::move(yaw); }

    // Whether a loud moment is being captured now (--event-above, --event-peak).
    bool eventUnderWay() const;

    // The meter's name in the metrics: --name, else the host's name.
    static std::string meterName(const fm::platform::DeviceOptions& options);

  private:
    LevelReports() = default;
    void poll();

    std::unique_ptr<fm::report::Reports> reports_;
    Yaw yaw_;
    QTimer timer_;
    std::unique_ptr<fm::platform::HttpServer> metrics_;
};

}  // namespace fm::app
