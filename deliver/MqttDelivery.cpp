#include "deliver/MqttDelivery.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "deliver/Backoff.h"
#include "deliver/Secret.h"
#include "deliver/Worker.h"
#include "platform/mqtt/MqttSession.h"

namespace fm::deliver {
namespace {

// Messages published and not yet acknowledged: enough to keep a local broker busy during a
// replay, few enough that a reconnect resends little.
constexpr std::size_t kWindow = 1000;

bool readable(const std::string& option, const std::string& path, std::string* error) {
    if (::access(path.c_str(), R_OK) == 0) return true;
    if (error) *error = option + ": cannot read " + path + " (" + std::strerror(errno) + ")";
    return false;
}

bool validSuffix(std::string_view suffix) {
    return !suffix.empty() && suffix.find_first_of(std::string_view("+#\0", 3)) == suffix.npos;
}

}  // namespace

bool mqttConnectOptions(const MqttOptions& options, platform::MqttConnectOptions* out,
                        std::string* error) {
    auto fail = [&](const std::string& text) {
        if (error) *error = text;
        return false;
    };
    platform::MqttConnectOptions c;
    std::string_view rest = options.url;
    if (rest.starts_with("mqtt://")) {
        rest.remove_prefix(7);
    } else if (rest.starts_with("mqtts://")) {
        rest.remove_prefix(8);
        c.tls = true;
        c.port = 8883;
    } else {
        return fail("--mqtt: \"" + options.url + "\" is not an mqtt:// or mqtts:// URL");
    }
    if (rest.ends_with('/')) rest.remove_suffix(1);
    if (rest.find_first_of("/?#") != rest.npos) {
        return fail("--mqtt: \"" + options.url + "\" has a path; give mqtt://[USER@]HOST[:PORT]");
    }
    if (const auto at = rest.rfind('@'); at != rest.npos) {
        c.username = std::string(rest.substr(0, at));
        rest.remove_prefix(at + 1);
        if (c.username.find(':') != std::string::npos) {
            return fail("--mqtt: a password never goes in the URL; use --mqtt-password-file");
        }
        if (c.username.empty()) return fail("--mqtt: the user name before \"@\" is empty");
    }
    std::string_view port;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == rest.npos) return fail("--mqtt: \"" + options.url + "\" lacks a \"]\"");
        c.host = std::string(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        if (rest.starts_with(':'))
            port = rest.substr(1);
        else if (!rest.empty())
            return fail("--mqtt: bad text after the host in " + options.url);
    } else {
        const auto colon = rest.find(':');
        c.host = std::string(rest.substr(0, colon));
        if (colon != rest.npos) port = rest.substr(colon + 1);
    }
    if (c.host.empty()) return fail("--mqtt: \"" + options.url + "\" names no host");
    if (!port.empty() || rest.ends_with(':')) {
        int p = 0;
        for (char ch : port) {
            if (ch < '0' || ch > '9' || p > 65535)
                return fail("--mqtt: bad port in " + options.url);
            p = p * 10 + (ch - '0');
        }
        if (p < 1 || p > 65535) return fail("--mqtt: bad port in " + options.url);
        c.port = p;
    }
    if (!c.tls &&
        !(options.caFile.empty() && options.certFile.empty() && options.keyFile.empty())) {
        return fail("--mqtt-ca, --mqtt-cert and --mqtt-key need an mqtts:// URL");
    }
    if (options.certFile.empty() != options.keyFile.empty()) {
        return fail("--mqtt-cert and --mqtt-key go together");
    }
    if (!options.caFile.empty() && !readable("--mqtt-ca", options.caFile, error)) return false;
    if (!options.certFile.empty() && !readable("--mqtt-cert", options.certFile, error))
        return false;
    if (!options.keyFile.empty() && !readable("--mqtt-key", options.keyFile, error)) return false;
    if (!options.passwordFile.empty()) {
        if (c.username.empty()) {
            return fail("--mqtt-password-file needs a user name in --mqtt (mqtt://USER@HOST)");
        }
        std::string why;
        if (!readSecretFile(options.passwordFile, &c.password, &why)) {
            return fail("--mqtt-password-file: " + why);
        }
    }
    std::string prefix = options.topicPrefix;
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    if (prefix.empty() || !validSuffix(prefix)) {
        return fail("--mqtt-topic: \"" + options.topicPrefix +
                    "\" is not a topic prefix (not empty, no \"+\" or \"#\")");
    }
    c.caFile = options.caFile;
    c.certFile = options.certFile;
    c.keyFile = options.keyFile;
    c.clientId = options.clientId;
    c.keepAliveSeconds = std::max(5, options.keepAliveSeconds);
    c.willTopic = prefix + "/status";
    c.willPayload = "offline";
    c.maxInflight = static_cast<int>(kWindow) + 100;
    *out = std::move(c);
    return true;
}

struct MqttDelivery::Impl {
    MqttOptions options;
    platform::MqttConnectOptions connect;
    std::string prefix, where;
    Say say;
    std::unique_ptr<Outbox> outbox;
    Worker worker;

    mutable std::mutex mutex;
    bool connected = false;
    std::uint64_t published = 0;
    std::string lastError;
    std::map<std::string, std::string> retained;
    bool retainedDirty = false;

    void run();
    void tell(const std::string& line) {
        if (say) say(line);
    }
};

void MqttDelivery::Impl::run() {
    Backoff backoff(std::chrono::seconds(1), std::chrono::seconds(30));
    std::string saidFailure;
    bool saidConnected = false;
    bool saidLost = false;
    while (!worker.stopping()) {
        if (!options.passwordFile.empty()) {
            // Read on every attempt, so that mending the file is enough.
            std::string password, why;
            if (readSecretFile(options.passwordFile, &password, &why)) connect.password = password;
        }
        std::map<int, std::uint64_t> mids;       // message id -> outbox index
        std::map<std::uint64_t, bool> inFlight;  // outbox index -> acknowledged
        int offlineMid = -1;
        bool offlineAcked = false;
        auto acknowledged = [&](int mid) {
            const auto m = mids.find(mid);
            if (m == mids.end()) {
                if (mid == offlineMid) offlineAcked = true;
                return;
            }
            inFlight[m->second] = true;
            mids.erase(m);
            std::uint64_t done = 0;
            while (!inFlight.empty() && inFlight.begin()->second) {
                inFlight.erase(inFlight.begin());
                ++done;
            }
            if (done == 0) return;
            outbox->acknowledge(inFlight.empty() ? ~0ull : inFlight.begin()->first);
            std::lock_guard lock(mutex);
            published += done;
        };
        std::string error;
        bool online = false;
        auto session = platform::MqttSession::create(connect, {nullptr, acknowledged}, &error);
        if (session && session->connect(&error)) {
            const auto deadline = std::chrono::steady_clock::now() +
                                  std::chrono::seconds(std::max(10, connect.keepAliveSeconds));
            while (!worker.stopping()) {
                if (!online && session->connected()) {
                    online = true;
                    backoff.reset();
                    outbox->rewind();
                    int mid = 0;
                    session->publish(prefix + "/status", "online", true, &mid, nullptr);
                    const auto backlog = outbox->status().backlog;
                    {
                        std::lock_guard lock(mutex);
                        connected = true;
                        lastError.clear();
                        retainedDirty = true;
                    }
                    if (!saidConnected || !saidFailure.empty()) {
                        tell(
                            "MQTT: connected to " + where +
                            (backlog ? " (" + std::to_string(backlog) + " messages to send)" : ""));
                    }
                    saidConnected = true;
                    saidFailure.clear();
                    saidLost = false;
                }
                if (!online && std::chrono::steady_clock::now() > deadline) {
                    error = "no answer from the broker";
                    break;
                }
                bool ok = true;
                std::size_t sent = 0;  // outbox messages published in this round
                if (online) {
                    std::map<std::string, std::string> toRetain;
                    {
                        std::lock_guard lock(mutex);
                        if (retainedDirty) toRetain = retained;
                        retainedDirty = false;
                    }
                    for (const auto& [topic, payload] : toRetain) {
                        int mid = 0;
                        ok = ok && session->publish(topic, payload, true, &mid, &error);
                    }
                    while (ok && inFlight.size() < kWindow) {
                        auto batch = outbox->readNext(kWindow - inFlight.size(), 1u << 20);
                        if (batch.empty()) break;
                        for (auto& m : batch) {
                            const auto split = m.payload.find('\0');
                            int mid = 0;
                            inFlight[m.index] = false;
                            if (split == std::string::npos) {
                                inFlight[m.index] = true;  // not ours: nothing to publish
                                continue;
                            }
                            const std::string_view payload(m.payload);
                            ok = session->publish(prefix + "/" + m.payload.substr(0, split),
                                                  payload.substr(split + 1), false, &mid, &error);
                            if (!ok) break;
                            mids[mid] = m.index;
                            ++sent;
                        }
                    }
                }
                if (inFlight.empty()) outbox->saveCursor(std::chrono::seconds(5));  // idle: to disk
                // A meter's steady trickle, a message or a few at a time with nothing older in
                // flight: their acknowledgements are read when the next ones wake the thread. A
                // backlog's are read as they come.
                const bool lazy = online && sent > 0 && sent <= 4 && inFlight.size() == sent;
                if (!ok || !session->step(worker.wakeFd(), 1000, lazy, &error)) break;
            }
            if (worker.stopping() && online) {
                // A clean stop: the will is not sent, so say "offline" ourselves.
                if (session->publish(prefix + "/status", "offline", true, &offlineMid, nullptr)) {
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                    while (!offlineAcked && std::chrono::steady_clock::now() < until &&
                           session->step(-1, 100, false, nullptr)) {
                    }
                }
                session->disconnect();
            }
        }
        if (worker.stopping()) break;
        {
            std::lock_guard lock(mutex);
            connected = false;
            lastError = error;
        }
        // Once a loss was said, a broker still away is no news; a refusal is.
        const bool refusal = error.starts_with("refused") || error.find("TLS") != std::string::npos;
        if (error != saidFailure && (online || !saidLost || refusal)) {
            tell(std::string(online ? "MQTT: lost the broker at " : "MQTT: cannot connect to ") +
                 where + ": " + error + "; retrying, messages wait in " + outbox->folder());
            saidFailure = error;
        }
        saidLost = saidLost || online;
        session.reset();
        worker.sleepUntil(std::chrono::steady_clock::now() + backoff.next());
    }
    outbox->saveCursor();
}

std::unique_ptr<MqttDelivery> MqttDelivery::start(const MqttOptions& options,
                                                  const std::string& outboxFolder,
                                                  std::uint64_t budgetBytes, Say say,
                                                  std::string* error) {
    auto impl = std::make_shared<Impl>();
    if (!mqttConnectOptions(options, &impl->connect, error)) return nullptr;
    impl->options = options;
    impl->prefix = impl->connect.willTopic.substr(0, impl->connect.willTopic.size() - 7);
    impl->where = impl->connect.host + ":" + std::to_string(impl->connect.port);
    impl->say = say;
    impl->outbox = Outbox::open(outboxFolder, budgetBytes, "MQTT outbox", say, error);
    if (!impl->outbox) return nullptr;
    Worker* worker = &impl->worker;
    impl->outbox->setWakeUp([worker] { worker->wake(); });
    impl->worker.start([impl] { impl->run(); });
    return std::unique_ptr<MqttDelivery>(new MqttDelivery(impl));
}

MqttDelivery::MqttDelivery(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

MqttDelivery::~MqttDelivery() {
    impl_->worker.stop(std::chrono::seconds(5));
}

bool MqttDelivery::enqueue(std::string_view topicSuffix, std::string_view payload,
                           std::chrono::system_clock::time_point madeAt) {
    if (!validSuffix(topicSuffix)) return false;
    std::string record;
    record.reserve(topicSuffix.size() + 1 + payload.size());
    record.append(topicSuffix).push_back('\0');
    record.append(payload);
    return impl_->outbox->append(record, madeAt);
}

void MqttDelivery::setRetained(std::string_view topic, std::string payload) {
    if (!validSuffix(topic)) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->retained[std::string(topic)] = std::move(payload);
        impl_->retainedDirty = true;
    }
    impl_->worker.wake();
}

MqttDelivery::Status MqttDelivery::status() const {
    Status s;
    {
        std::lock_guard lock(impl_->mutex);
        s.connected = impl_->connected;
        s.published = impl_->published;
        s.lastError = impl_->lastError;
    }
    s.outbox = impl_->outbox->status();
    return s;
}

const std::string& MqttDelivery::topicPrefix() const {
    return impl_->prefix;
}

}  // namespace fm::deliver
