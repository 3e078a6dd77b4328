#pragma once
// Every second, closed period, whole day and event, delivered off the machine as the reports
// write them: to an MQTT broker (--mqtt, topics PREFIX/second, /period, /day, /event and the
// retained /status) and to a line-protocol store (--influx), each through an outbox on disk
// in the documents folder that survives outages and restarts. Each second carries the meter's
// count of seconds across restarts (`seq`). Main thread; the sending runs on the deliveries'
// own threads. Qt-free.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "instrument/SecondSequence.h"
#include "platform/device/DeviceOptions.h"
#include "report/ReportListener.h"

namespace fm::deliver {
class MqttDelivery;
class LineProtocolDelivery;
class WebhookDelivery;
}  // namespace fm::deliver

namespace fm::instrument {

class Deliveries : public fm::report::ReportListener {
  public:
    using Say = std::function<void(const std::string&)>;

    // Null without --mqtt, --influx and --alert-webhook. Null with *error set when an option cannot
    // be used (a bad URL, an unreadable password file, an outbox that cannot be made).
    static std::unique_ptr<Deliveries> start(const fm::platform::DeviceOptions& options,
                                             const std::string& meterName,
                                             const std::string& stateFolder, Say say,
                                             std::string* error);
    ~Deliveries() override;

    // With --mqtt-discovery: announces the meter to Home Assistant (retained), its levels in dB
    // when calibrated, else dBFS; again whenever that changes.
    void announce(bool calibrated);

    // Where the page serves the clips ("http://host:port/"), for the events' links.
    void setPageUrl(std::string url) { pageUrl_ = std::move(url); }

    void second(const fm::measure::SecondRecord& second) override;
    void period(const fm::measure::PeriodValues& period) override;
    void day(const fm::measure::DayValues& day) override;
    void event(const fm::report::EventSummary& event) override;
    // A limit's alert (its JSON): to PREFIX/alert and to the webhook, each through its outbox.
    void alert(const std::string& json, std::chrono::system_clock::time_point time);

    // Any thread: "broker connected; backlog 0" for the service's status line.
    std::string statusText() const;
    // Any thread: the deliveries' metrics families, in the text format.
    std::string metricsText(const std::string& meterName) const;

  private:
    Deliveries() = default;

    std::string meterName_;
    std::string topicPrefix_;
    bool discovery_ = false;
    int announcedUnit_ = -1;  // 1 dB, 0 dBFS, -1 not yet
    std::string pageUrl_;
    std::unique_ptr<SecondSequence> sequence_;
    std::unique_ptr<fm::deliver::MqttDelivery> mqtt_;
    std::unique_ptr<fm::deliver::LineProtocolDelivery> influx_;
    std::unique_ptr<fm::deliver::WebhookDelivery> webhook_;
};

// The topics' prefix: --mqtt-topic, else fieldmeter/NAME.
std::string mqttTopicPrefix(const fm::platform::DeviceOptions& options,
                            const std::string& meterName);

}  // namespace fm::instrument
