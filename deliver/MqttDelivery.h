#pragma once
// Messages to an MQTT broker with QoS 1, through an outbox on disk: the caller's thread only
// appends; a thread of this delivery's own publishes from the cursor, keeps many messages in
// flight, and moves the cursor over those the broker acknowledged. After an outage the backlog
// is replayed oldest first while new messages queue behind it. "PREFIX/status" is retained
// "online" while connected; the broker's will makes it "offline" when the meter vanishes, and a
// clean stop publishes "offline" too.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "deliver/Outbox.h"

namespace fm::platform {
struct MqttConnectOptions;
}

namespace fm::deliver {

struct MqttOptions {
    std::string url;  // mqtt://[USER@]HOST[:PORT] or mqtts://...
    std::string caFile, certFile, keyFile, passwordFile;
    std::string topicPrefix;  // without a trailing "/"
    std::string clientId;     // empty: the broker picks one
    int keepAliveSeconds = 30;
};

// Checks the options (the URL, the readable files) and makes the connection's settings; the
// error text names the option ("--mqtt", "--mqtt-password-file", ...).
bool mqttConnectOptions(const MqttOptions& options, platform::MqttConnectOptions* out,
                        std::string* error);

class MqttDelivery {
  public:
    struct Status {
        bool connected = false;
        std::uint64_t published = 0;  // acknowledged by the broker since start
        OutboxStatus outbox;
        std::string lastError;  // empty while all is well
    };

    // Null, with the error, when the options are bad or the outbox cannot be opened.
    static std::unique_ptr<MqttDelivery> start(const MqttOptions& options,
                                               const std::string& outboxFolder,
                                               std::uint64_t budgetBytes, Say say,
                                               std::string* error);
    // Stops the thread within a few seconds; the outbox keeps what was not acknowledged.
    ~MqttDelivery();
    MqttDelivery(const MqttDelivery&) = delete;
    MqttDelivery& operator=(const MqttDelivery&) = delete;

    // Any thread: appended to the outbox (one small write), published to PREFIX/topicSuffix.
    bool enqueue(std::string_view topicSuffix, std::string_view payload,
                 std::chrono::system_clock::time_point madeAt);
    // Retained, QoS 1, published now and on every connect; not queued (the latest one counts).
    // The whole topic: Home Assistant's discovery lives under "homeassistant/", not the prefix.
    void setRetained(std::string_view topic, std::string payload);
    Status status() const;
    const std::string& topicPrefix() const;

    struct Impl;

  private:
    explicit MqttDelivery(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

}  // namespace fm::deliver
