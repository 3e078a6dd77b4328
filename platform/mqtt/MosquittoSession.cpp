// The MQTT session on libmosquitto, built into the transports module only.
#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/mqtt/MqttSession.h"

namespace fm::platform {
namespace {

class MosquittoSession final : public MqttSession {
  public:
    static std::unique_ptr<MosquittoSession> create(const MqttConnectOptions& options,
                                                    Events events, std::string* error);
    ~MosquittoSession() override;

    bool connect(std::string* error) override;
    bool publish(std::string_view topic, std::string_view payload, bool retain, int* mid,
                 std::string* error) override;
    bool step(int wakeFd, int timeoutMs, bool lazyReads, std::string* error) override;
    void disconnect() override;
    bool connected() const override { return connected_; }

  private:
    MosquittoSession() = default;
    std::string reason(int rc) const;

    mosquitto* mosq_ = nullptr;
    MqttConnectOptions options_;
    Events events_;
    bool connected_ = false;
    bool refused_ = false;
    std::string refusal_;
    std::string lastLogError_;
};

std::unique_ptr<MosquittoSession> MosquittoSession::create(const MqttConnectOptions& options,
                                                           Events events, std::string* error) {
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    std::unique_ptr<MosquittoSession> s(new MosquittoSession());
    s->options_ = options;
    s->events_ = std::move(events);
    s->mosq_ =
        mosquitto_new(options.clientId.empty() ? nullptr : options.clientId.c_str(), true, s.get());
    auto fail = [&](const std::string& what, int rc) {
        if (error) *error = what + ": " + mosquitto_strerror(rc);
        return nullptr;
    };
    if (s->mosq_ == nullptr) return fail("cannot make an MQTT client", MOSQ_ERR_NOMEM);
    mosquitto_max_inflight_messages_set(s->mosq_, static_cast<unsigned>(options.maxInflight));
    mosquitto_int_option(s->mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!options.username.empty()) {
        const int rc = mosquitto_username_pw_set(
            s->mosq_, options.username.c_str(),
            options.password.empty() ? nullptr : options.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) return fail("MQTT user name", rc);
    }
    if (options.tls) {
        const bool own = !options.caFile.empty();
        const int rc = mosquitto_tls_set(
            s->mosq_, own ? options.caFile.c_str() : nullptr, own ? nullptr : "/etc/ssl/certs",
            options.certFile.empty() ? nullptr : options.certFile.c_str(),
            options.keyFile.empty() ? nullptr : options.keyFile.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) return fail("MQTT TLS set-up", rc);
    }
    if (!options.willTopic.empty()) {
        const int rc = mosquitto_will_set(s->mosq_, options.willTopic.c_str(),
                                          static_cast<int>(options.willPayload.size()),
                                          options.willPayload.data(), 1, true);
        if (rc != MOSQ_ERR_SUCCESS) return fail("MQTT will", rc);
    }
    mosquitto_connect_callback_set(s->mosq_, [](mosquitto*, void* self, int code) {
        auto* me = static_cast<MosquittoSession*>(self);
        me->connected_ = code == 0;
        if (code != 0) {
            me->refused_ = true;
            me->refusal_ = mosquitto_connack_string(code);
            while (!me->refusal_.empty() && me->refusal_.back() == '.') me->refusal_.pop_back();
        }
        if (me->events_.connected) me->events_.connected(code, mosquitto_connack_string(code));
    });
    mosquitto_publish_callback_set(s->mosq_, [](mosquitto*, void* self, int mid) {
        auto* me = static_cast<MosquittoSession*>(self);
        if (me->events_.acknowledged) me->events_.acknowledged(mid);
    });
    mosquitto_disconnect_callback_set(s->mosq_, [](mosquitto*, void* self, int) {
        static_cast<MosquittoSession*>(self)->connected_ = false;
    });
    // libmosquitto says why TLS failed only in its log.
    mosquitto_log_callback_set(s->mosq_, [](mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR && text != nullptr) {
            static_cast<MosquittoSession*>(self)->lastLogError_ = text;
        }
    });
    return s;
}

MosquittoSession::~MosquittoSession() {
    if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

std::string MosquittoSession::reason(int rc) const {
    std::string why = refused_               ? "refused (" + refusal_ + ")"
                      : rc == MOSQ_ERR_ERRNO ? std::strerror(errno)
                                             : mosquitto_strerror(rc);
    if (rc == MOSQ_ERR_TLS && !lastLogError_.empty()) why += " (" + lastLogError_ + ")";
    while (!why.empty() && why.back() == '.') why.pop_back();
    return why;
}

bool MosquittoSession::connect(std::string* error) {
    const int rc = mosquitto_connect_async(mosq_, options_.host.c_str(), options_.port,
                                           options_.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error) *error = reason(rc);
        return false;
    }
    return true;
}

bool MosquittoSession::publish(std::string_view topic, std::string_view payload, bool retain,
                               int* mid, std::string* error) {
    const std::string t(topic);
    const int rc = mosquitto_publish(mosq_, mid, t.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (error) *error = reason(rc);
        return false;
    }
    return true;
}

bool MosquittoSession::step(int wakeFd, int timeoutMs, bool lazyReads, std::string* error) {
    const int sock = mosquitto_socket(mosq_);
    if (sock < 0) {
        if (error) *error = refused_ ? reason(0) : "connection closed";
        return false;
    }
    pollfd fds[2] = {{sock, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    if (mosquitto_want_write(mosq_)) fds[0].events |= POLLOUT;
    // Bytes still to write need the socket's wake-up.
    const bool lazy = lazyReads && wakeFd >= 0 && !(fds[0].events & POLLOUT);
    int n = lazy ? ::poll(&fds[1], 1, timeoutMs) : ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (n >= 0 && lazy) n = ::poll(&fds[0], 1, 0);  // what the broker sent meanwhile
    if (n < 0 && errno != EINTR) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    if (wakeFd >= 0 && (fds[1].revents & POLLIN)) {
        std::uint64_t count = 0;  // one read takes an eventfd's whole count
        [[maybe_unused]] const auto got = ::read(wakeFd, &count, sizeof count);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(mosq_, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0 &&
        ((fds[0].revents & POLLOUT) || mosquitto_want_write(mosq_))) {
        rc = mosquitto_loop_write(mosq_, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq_);
    if (rc == MOSQ_ERR_SUCCESS && refused_) rc = MOSQ_ERR_CONN_REFUSED;
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(mosq_) < 0) {
        connected_ = false;
        if (error) *error = rc == MOSQ_ERR_SUCCESS ? "connection closed" : reason(rc);
        return false;
    }
    return true;
}

void MosquittoSession::disconnect() {
    if (mosquitto_socket(mosq_) >= 0) {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_write(mosq_, 1);
    }
    connected_ = false;
}

}  // namespace

}  // namespace fm::platform

fm::platform::MqttSession* fmMakeMqttSession(const fm::platform::MqttConnectOptions& options,
                                             fm::platform::MqttSession::Events* events,
                                             std::string* error) {
    return fm::platform::MosquittoSession::create(options, std::move(*events), error).release();
}
