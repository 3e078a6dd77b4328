#pragma once
// systemd's notify protocol, spoken through libsystemd: READY once the input runs and every
// output is open, STATUS lines, and WATCHDOG pings. Without NOTIFY_SOCKET (not run by systemd)
// every call does nothing.
#include <chrono>
#include <string>

namespace fm::monitor {

class ServiceNotify {
  public:
    ServiceNotify();

    // The watchdog's interval that systemd asked for (WATCHDOG_USEC), or zero.
    std::chrono::microseconds watchdogInterval() const { return watchdog_; }

    void ready(const std::string& status);
    // Sent only when it differs from the last one.
    void status(const std::string& status);
    void watchdog();
    void stopping();

  private:
    std::chrono::microseconds watchdog_{0};
    std::string lastStatus_;
};

}  // namespace fm::monitor
