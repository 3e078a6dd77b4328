#include "instrument/Deliveries.h"

#include <chrono>
#include <cmath>
#include <filesystem>

#include "deliver/HttpDelivery.h"
#include "deliver/LineProtocol.h"
#include "deliver/MqttDelivery.h"
#include "instrument/HomeAssistantDiscovery.h"
#include "report/DeliveryMessages.h"
#include "report/MetricsText.h"
#include "report/NumberText.h"

namespace fm::instrument {

namespace {

std::uint64_t budgetBytes(double megabytes) {
    return static_cast<std::uint64_t>(std::llround(megabytes * 1e6));
}

std::int64_t unixNanoseconds(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

void family(std::string* out, const char* name, const char* type, const char* help) {
    *out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string* out, const char* name, const std::string& labels, double value) {
    *out += std::string(name) + "{" + labels + "} " + fm::report::shortestText(value) + "\n";
}

}  // namespace

std::string mqttTopicPrefix(const fm::platform::DeviceOptions& options,
                            const std::string& meterName) {
    return options.mqttTopic.empty() ? "fieldmeter/" + topicSafe(meterName) : options.mqttTopic;
}

std::unique_ptr<Deliveries> Deliveries::start(const fm::platform::DeviceOptions& options,
                                              const std::string& meterName,
                                              const std::string& stateFolder, Say say,
                                              std::string* error) {
    if (options.mqttUrl.empty() && options.influxUrl.empty() && options.alertWebhook.empty()) {
        return nullptr;
    }
    std::unique_ptr<Deliveries> self(new Deliveries());
    self->meterName_ = meterName;
    const std::filesystem::path outboxes = std::filesystem::path(stateFolder) / "outbox";
    std::error_code ec;
    std::filesystem::create_directories(outboxes, ec);
    std::string why;
    self->sequence_ = std::make_unique<SecondSequence>((outboxes / "seq").string(), &why);
    if (!why.empty()) {
        *error = "cannot keep the count of seconds: " + why;
        return nullptr;
    }
    if (!options.mqttUrl.empty()) {
        fm::deliver::MqttOptions mqtt;
        mqtt.url = options.mqttUrl;
        mqtt.caFile = options.mqttCaFile;
        mqtt.certFile = options.mqttCertFile;
        mqtt.keyFile = options.mqttKeyFile;
        mqtt.passwordFile = options.mqttPasswordFile;
        mqtt.topicPrefix = mqttTopicPrefix(options, meterName);
        mqtt.clientId = "fieldmeter-" + topicSafe(meterName);
        self->mqtt_ = fm::deliver::MqttDelivery::start(
            mqtt, (outboxes / "mqtt").string(), budgetBytes(options.outboxMaxMb), say, error);
        if (!self->mqtt_) {
            return nullptr;
        }
        self->topicPrefix_ = mqtt.topicPrefix;
        self->discovery_ = options.mqttDiscovery;
    }
    if (!options.influxUrl.empty()) {
        fm::deliver::LineProtocolOptions influx;
        influx.url = options.influxUrl;
        influx.tokenFile = options.influxTokenFile;
        self->influx_ = fm::deliver::LineProtocolDelivery::start(
            influx, (outboxes / "influx").string(), budgetBytes(options.outboxMaxMb), say, error);
        if (!self->influx_) {
            return nullptr;
        }
    }
    if (!options.alertWebhook.empty()) {
        fm::deliver::WebhookOptions webhook;
        webhook.url = options.alertWebhook;
        webhook.headerFile = options.alertWebhookHeaderFile;
        self->webhook_ = fm::deliver::WebhookDelivery::start(
            webhook, (outboxes / "webhook").string(), budgetBytes(options.outboxMaxMb), say, error);
        if (!self->webhook_) {
            return nullptr;
        }
    }
    return self;
}

Deliveries::~Deliveries() = default;

void Deliveries::announce(bool calibrated) {
    if (!mqtt_ || !discovery_ || announcedUnit_ == (calibrated ? 1 : 0)) {
        return;
    }
    announcedUnit_ = calibrated ? 1 : 0;
    for (const auto& m :
         homeAssistantDiscovery(meterName_, topicPrefix_, calibrated ? "dB" : "dBFS")) {
        mqtt_->setRetained(m.topic, m.payload);
    }
}

void Deliveries::second(const fm::measure::SecondRecord& second) {
    if (!mqtt_ && !influx_) {
        return;
    }
    const std::uint64_t seq = sequence_->next();
    if (mqtt_) {
        mqtt_->enqueue("second", fm::report::secondMessage(second, seq, meterName_),
                       second.closedAt);
    }
    if (influx_) {
        auto fields = fm::report::secondFields(second);
        fields.emplace_back("seq", static_cast<double>(seq));
        fields.emplace_back("overload", static_cast<double>(second.overloadSamples));
        fields.emplace_back("calibrated", second.calibrated ? 1.0 : 0.0);
        fields.emplace_back("calibration_offset_db", second.calibrationOffsetDb);
        const std::string line = fm::deliver::lineProtocolPoint(
            "fieldmeter",
            {{"meter", meterName_}, {"input", fm::measure::inputKindName(second.input)}}, fields,
            unixNanoseconds(second.closedAt));
        influx_->enqueue(line, second.closedAt);
    }
}

void Deliveries::period(const fm::measure::PeriodValues& period) {
    if (mqtt_) {
        mqtt_->enqueue("period", fm::report::periodMessage(period, meterName_), period.end);
    }
}

void Deliveries::day(const fm::measure::DayValues& day) {
    if (mqtt_) {
        mqtt_->enqueue("day", fm::report::dayMessage(day, meterName_),
                       std::chrono::system_clock::now());
    }
}

void Deliveries::event(const fm::report::EventSummary& event) {
    if (mqtt_) {
        const std::string url =
            pageUrl_.empty() || !event.kept ? "" : pageUrl_ + "events/" + event.clip;
        mqtt_->enqueue("event", fm::report::eventMessage(event, meterName_, url), event.end);
    }
}

void Deliveries::alert(const std::string& json, std::chrono::system_clock::time_point time) {
    if (mqtt_) {
        mqtt_->enqueue("alert", json, time);
    }
    if (webhook_) {
        webhook_->enqueue(json, time);
    }
}

std::string Deliveries::statusText() const {
    std::string text;
    if (mqtt_) {
        const auto s = mqtt_->status();
        text += std::string("broker ") + (s.connected ? "connected" : "not connected") +
                "; backlog " + std::to_string(s.outbox.backlog);
    }
    if (influx_) {
        const auto s = influx_->status();
        text += std::string(text.empty() ? "" : "; ") + "store " +
                (s.reachable ? "reachable" : "not reachable") + "; backlog " +
                std::to_string(s.outbox.backlog);
    }
    if (webhook_) {
        const auto s = webhook_->status();
        text += std::string(text.empty() ? "" : "; ") + "webhook backlog " +
                std::to_string(s.outbox.backlog);
    }
    return text;
}

std::string Deliveries::metricsText(const std::string& meterName) const {
    std::string out;
    struct Row {
        std::string labels;
        bool connected;
        std::uint64_t sent;
        fm::deliver::OutboxStatus outbox;
    };
    std::vector<Row> rows;
    const std::string meter = "meter=\"" + fm::report::metricsLabelValue(meterName) + "\"";
    if (mqtt_) {
        const auto s = mqtt_->status();
        rows.push_back({meter + ",delivery=\"mqtt\"", s.connected, s.published, s.outbox});
    }
    if (influx_) {
        const auto s = influx_->status();
        rows.push_back({meter + ",delivery=\"influx\"", s.reachable, s.sent, s.outbox});
    }
    if (webhook_) {
        const auto s = webhook_->status();
        rows.push_back({meter + ",delivery=\"webhook\"", s.reachable, s.sent, s.outbox});
    }
    if (rows.empty()) {
        return out;
    }
    family(&out, "fieldmeter_delivery_connected", "gauge",
           "1 while the broker or the store takes the messages, 0 otherwise.");
    for (const Row& r : rows) {
        sample(&out, "fieldmeter_delivery_connected", r.labels, r.connected ? 1 : 0);
    }
    family(&out, "fieldmeter_delivery_sent_total", "counter",
           "Messages the broker or the store acknowledged since the start.");
    for (const Row& r : rows) {
        sample(&out, "fieldmeter_delivery_sent_total", r.labels, static_cast<double>(r.sent));
    }
    family(&out, "fieldmeter_outbox_backlog_messages", "gauge",
           "Messages in the outbox on disk not yet acknowledged.");
    for (const Row& r : rows) {
        sample(&out, "fieldmeter_outbox_backlog_messages", r.labels,
               static_cast<double>(r.outbox.backlog));
    }
    family(&out, "fieldmeter_outbox_oldest_age_seconds", "gauge",
           "Age of the oldest message not yet acknowledged (0 without a backlog).");
    for (const Row& r : rows) {
        sample(&out, "fieldmeter_outbox_oldest_age_seconds", r.labels, r.outbox.oldestAgeSeconds);
    }
    family(&out, "fieldmeter_outbox_dropped_total", "counter",
           "Messages lost to the outbox's budget, a failed write or a damaged file.");
    for (const Row& r : rows) {
        sample(&out, "fieldmeter_outbox_dropped_total", r.labels,
               static_cast<double>(r.outbox.dropped));
    }
    return out;
}

}  // namespace fm::instrument
