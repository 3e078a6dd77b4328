#pragma once
// One connection to an MQTT broker through libmosquitto, driven by its owner's thread: connect
// without blocking, publish, and `step` to move bytes (waiting on the socket and a wake-up
// descriptor). The callbacks run inside `step`, on that thread. A lost connection is not
// resumed: the owner makes a new session, so nothing libmosquitto kept is sent twice. Qt-free.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct mosquitto;

namespace fm::platform {

struct MqttConnectOptions {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile;  // empty: the system's certificates
    std::string certFile, keyFile;
    std::string username, password;
    std::string clientId;
    int keepAliveSeconds = 30;
    std::string willTopic, willPayload;  // retained, QoS 1, when not empty
    int maxInflight = 1000;
};

class MqttSession {
  public:
    struct Events {
        std::function<void(int code, const std::string& reason)> connected;  // code 0: accepted
        std::function<void(int mid)> acknowledged;
    };
    // Only libmosquitto's own refusals (an unreadable certificate, say) fail here.
    static std::unique_ptr<MqttSession> create(const MqttConnectOptions& options, Events events,
                                               std::string* error);
    ~MqttSession();
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    // Starts the connection without waiting for it (name resolution aside).
    bool connect(std::string* error);
    // QoS 1; mid receives the message id that `acknowledged` will report.
    bool publish(std::string_view topic, std::string_view payload, bool retain, int* mid,
                 std::string* error);
    // Waits up to timeoutMs for the socket or wakeFd (readable: drained), then reads, writes and
    // keeps the connection alive. False once the connection is gone, with why.
    bool step(int wakeFd, int timeoutMs, std::string* error);
    // Sends DISCONNECT (the will is not published) and closes.
    void disconnect();
    bool connected() const { return connected_; }

  private:
    MqttSession() = default;
    std::string reason(int rc) const;

    mosquitto* mosq_ = nullptr;
    MqttConnectOptions options_;
    Events events_;
    bool connected_ = false;
    bool refused_ = false;
    std::string refusal_;
    std::string lastLogError_;
};

}  // namespace fm::platform
