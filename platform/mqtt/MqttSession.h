#pragma once
// One connection to an MQTT broker, driven by its owner's thread: connect without blocking,
// publish, and `step` to move bytes (waiting on the socket and a wake-up descriptor). The
// callbacks run inside `step`, on that thread. A lost connection is not resumed: the owner makes
// a new session, so nothing the client kept is sent twice. The client (libmosquitto) lives in the
// transports module, loaded by the first `create`. Qt-free.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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
    // Fails when the transports module cannot be loaded, or on the client's own refusals (an
    // unreadable certificate, say).
    static std::unique_ptr<MqttSession> create(const MqttConnectOptions& options, Events events,
                                               std::string* error);
    virtual ~MqttSession() = default;
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    // Starts the connection without waiting for it (name resolution aside).
    virtual bool connect(std::string* error) = 0;
    // QoS 1; mid receives the message id that `acknowledged` will report.
    virtual bool publish(std::string_view topic, std::string_view payload, bool retain, int* mid,
                         std::string* error) = 0;
    // Waits up to timeoutMs for wakeFd (an eventfd; readable: drained) or the socket, then reads,
    // writes and keeps the connection alive. With `lazyReads` only wakeFd (or the time) ends the
    // wait and what the broker sent meanwhile is read then: an acknowledgement waits for the next
    // message, which takes one wake-up instead of two. False once the connection is gone, with
    // why.
    virtual bool step(int wakeFd, int timeoutMs, bool lazyReads, std::string* error) = 0;
    // Sends DISCONNECT (the will is not published) and closes.
    virtual void disconnect() = 0;
    virtual bool connected() const = 0;

  protected:
    MqttSession() = default;
};

// The name that `create` looks up in the module.
inline constexpr const char* kMakeMqttSession = "fmMakeMqttSession";

}  // namespace fm::platform

// The transports module's entry point: a new session, or null with why.
extern "C" __attribute__((visibility("default"))) fm::platform::MqttSession* fmMakeMqttSession(
    const fm::platform::MqttConnectOptions& options, fm::platform::MqttSession::Events* events,
    std::string* error);
