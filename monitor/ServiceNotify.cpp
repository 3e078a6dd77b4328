#include "monitor/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace fm::monitor {

ServiceNotify::ServiceNotify() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) {
        watchdog_ = std::chrono::microseconds(usec);
    }
}

void ServiceNotify::ready(const std::string& status) {
    lastStatus_ = status;
    sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
}

void ServiceNotify::status(const std::string& status) {
    if (status == lastStatus_) {
        return;
    }
    lastStatus_ = status;
    sd_notify(0, ("STATUS=" + status).c_str());
}

void ServiceNotify::watchdog() {
    sd_notify(0, "WATCHDOG=1");
}

void ServiceNotify::stopping() {
    sd_notify(0, "STOPPING=1");
}

}  // namespace fm::monitor
