#pragma once
// The sound levels reported beyond the screen: a CSV row for every second the meter measures in
// the log file (--log), and the metrics endpoint (--metrics). A failure of either is said once
// on standard error and the meters keep running.
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/device/DeviceOptions.h"

namespace fm::measure {
struct SoundLevelSnapshot;
}
namespace fm::report {
class LevelLogFile;
}
namespace fm::platform {
class HttpServer;
}
namespace fm::screen {
class ViewController;
}

namespace fm::app {

class LevelReports : public QObject {
    Q_OBJECT
  public:
    // `controller` gives the device's yaw for the log; it must outlive this object.
    LevelReports(const fm::platform::DeviceOptions& options,
                 fm::screen::ViewController* controller);
    ~LevelReports() override;

    // The meter's name in the metrics: --name, else the host's name.
    static std::string meterName(const fm::platform::DeviceOptions& options);

  private:
    void pollLevels();
    void writeRow(const fm::measure::SoundLevelSnapshot& levels);

    fm::screen::ViewController* controller_;
    std::string logPath_;
    std::unique_ptr<fm::report::LevelLogFile> log_;
    bool logFailing_ = false;
    std::uint64_t loggedSecond_ = 0;  // the meter's last second in the log (0: none yet)
    QTimer logTimer_;
    std::unique_ptr<fm::platform::HttpServer> metrics_;
};

}  // namespace fm::app
