// The MQTT delivery against a real mosquitto, read back by a subscriber with a persistent session.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <sys/wait.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "deliver/MqttDelivery.h"
#include "tests/deliver/Servers.h"

namespace fm::deliver {
namespace {

using test::Server;
using test::waitFor;
using namespace std::chrono_literals;

struct Subscriber {
    mosquitto* m;
    mutable std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> got;
    std::vector<std::string> liveTopics;
    std::atomic<bool> subscribed{false};

    Subscriber(int port, const std::string& id, const std::function<void(mosquitto*)>& setup = {}) {
        mosquitto_lib_init();
        m = mosquitto_new(id.c_str(), false, this);
        if (setup) setup(m);
        mosquitto_connect_callback_set(m, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, "#", 1);
        });
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            auto* me = static_cast<Subscriber*>(self);
            std::lock_guard lock(me->mutex);
            if (!msg->retain) me->liveTopics.push_back(msg->topic);
            me->got.emplace_back(msg->topic,
                                 std::string(static_cast<const char*>(msg->payload),
                                             static_cast<std::size_t>(msg->payloadlen)));
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed = true;
        });
        mosquitto_reconnect_delay_set(m, 1, 1, false);
        EXPECT_EQ(mosquitto_connect(m, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
        mosquitto_loop_start(m);
        EXPECT_TRUE(waitFor([this] { return subscribed.load(); }));  // before anything is sent
    }
    ~Subscriber() {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, false);
        mosquitto_destroy(m);
    }
    // The numbers received on `topic`, first arrivals only (QoS 1 may repeat a message).
    std::vector<int> firstArrivals(const std::string& topic) const {
        std::lock_guard lock(mutex);
        std::vector<int> out;
        std::set<int> seen;
        for (const auto& [t, payload] : got) {
            if (t == topic && seen.insert(std::stoi(payload)).second)
                out.push_back(std::stoi(payload));
        }
        return out;
    }
    // Published while subscribed (not the broker's retained copy sent on subscribing).
    std::size_t live(const std::string& topic) const {
        std::lock_guard lock(mutex);
        return static_cast<std::size_t>(std::count(liveTopics.begin(), liveTopics.end(), topic));
    }
    std::string last(const std::string& topic) const {
        std::lock_guard lock(mutex);
        for (auto it = got.rbegin(); it != got.rend(); ++it) {
            if (it->first == topic) return it->second;
        }
        return {};
    }
};

std::vector<int> upTo(int n) {
    std::vector<int> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = i;
    return v;
}

struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
    Say say() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    int count(const std::string& part) {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
            return l.find(part) != std::string::npos;
        }));
    }
};

MqttOptions options(int port, const std::string& scheme = "mqtt://", const std::string& user = "") {
    MqttOptions o;
    o.url = scheme + user + "127.0.0.1:" + std::to_string(port);
    o.topicPrefix = "fieldmeter/test";
    return o;
}

bool enqueue(MqttDelivery& d, int n) {
    return d.enqueue("second", std::to_string(n), std::chrono::system_clock::now());
}

TEST(MqttDelivery, BrokerDownForTwentySecondsAndRestartedLosesNothing) {
    const std::string dir = test::freshDir("mqtt-outage");
    Server broker{"start-mosquitto.sh", dir + "/broker", ""};
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port, "sub-outage");
    Lines said;
    std::string error;
    auto d =
        MqttDelivery::start(options(broker.port), dir + "/outbox", 1 << 30, said.say(), &error);
    ASSERT_TRUE(d) << error;
    d->setRetained("homeassistant/sensor/fmtest/config", "{}");
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(enqueue(*d, i));
    ASSERT_TRUE(waitFor([&] { return sub.firstArrivals("fieldmeter/test/second").size() == 20; }));
    EXPECT_EQ(sub.last("fieldmeter/test/status"), "online");

    broker.stop();
    // The deliberate outage: a message every 200 ms for 20 s.
    for (int i = 20; i < 120; ++i) {
        ASSERT_TRUE(enqueue(*d, i));
        std::this_thread::sleep_for(200ms);
    }
    const auto during = d->status();
    EXPECT_FALSE(during.connected);
    EXPECT_EQ(during.outbox.backlog, 100u);
    EXPECT_GT(during.outbox.oldestAgeSeconds, 15);
    EXPECT_EQ(said.count("lost the broker"), 1);  // one line for the outage, not one a retry
    EXPECT_EQ(said.count("cannot connect"), 0);

    ASSERT_TRUE(broker.start());  // the same port, its sessions from disk
    for (int i = 120; i < 140; ++i) ASSERT_TRUE(enqueue(*d, i));
    ASSERT_TRUE(waitFor([&] { return sub.firstArrivals("fieldmeter/test/second").size() >= 140; }));
    EXPECT_EQ(sub.firstArrivals("fieldmeter/test/second"), upTo(140));
    ASSERT_TRUE(waitFor([&] { return d->status().outbox.backlog == 0; }));
    EXPECT_EQ(d->status().published, 140u);
    EXPECT_EQ(said.count("connected to"), 2);
    EXPECT_EQ(sub.live("homeassistant/sensor/fmtest/config"), 2u);  // again on reconnecting

    d.reset();  // a clean stop says so
    ASSERT_TRUE(waitFor([&] { return sub.last("fieldmeter/test/status") == "offline"; }));
}

TEST(MqttDelivery, KilledDuringAnOutageDeliversItsBacklogAfterRestart) {
    const std::string dir = test::freshDir("mqtt-kill");
    Server broker{"start-mosquitto.sh", dir + "/broker", ""};
    ASSERT_TRUE(broker.start());
    broker.stop();
    const pid_t child = ::fork();
    if (child == 0) {
        std::string error;
        auto d = MqttDelivery::start(options(broker.port), dir + "/outbox", 1 << 30, {}, &error);
        for (int i = 0; d && i < 50; ++i) enqueue(*d, i);
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port, "sub-kill");
    std::string error;
    auto d = MqttDelivery::start(options(broker.port), dir + "/outbox", 1 << 30, {}, &error);
    ASSERT_TRUE(d) << error;
    ASSERT_TRUE(waitFor([&] { return sub.firstArrivals("fieldmeter/test/second").size() >= 50; }));
    EXPECT_EQ(sub.firstArrivals("fieldmeter/test/second"), upTo(50));
}

TEST(MqttDelivery, WrongPasswordIsSaidOnceAndNothingIsLostOnceRight) {
    const std::string dir = test::freshDir("mqtt-password");
    Server broker{"start-mosquitto.sh", dir + "/broker", "--user meter right-one"};
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port, "sub-password",
                   [](mosquitto* m) { mosquitto_username_pw_set(m, "meter", "right-one"); });
    auto o = options(broker.port, "mqtt://", "meter@");
    o.passwordFile = dir + "/password";
    std::ofstream(o.passwordFile) << "wrong-one\n";
    Lines said;
    std::string error;
    auto d = MqttDelivery::start(o, dir + "/outbox", 1 << 30, said.say(), &error);
    ASSERT_TRUE(d) << error;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(enqueue(*d, i));
    // Three refusals in the broker's log: the delivery tried again and said it once.
    ASSERT_TRUE(waitFor([&] {
        const std::string log = test::readText(dir + "/broker/mosquitto.log");
        std::size_t n = 0;
        for (auto at = log.find("not authorised"); at != std::string::npos;
             at = log.find("not authorised", at + 1)) {
            ++n;
        }
        return n >= 3;
    }));
    EXPECT_EQ(said.count("cannot connect"), 1);
    EXPECT_EQ(said.count("not authorised"), 1);
    std::ofstream(o.passwordFile) << "right-one\n";
    ASSERT_TRUE(waitFor([&] { return sub.firstArrivals("fieldmeter/test/second").size() >= 5; }));
    EXPECT_EQ(sub.firstArrivals("fieldmeter/test/second"), upTo(5));
}

TEST(MqttDelivery, TlsWithTheTestsOwnCaAndClientCertificate) {
    const std::string dir = test::freshDir("mqtt-tls");
    const std::string make =
        "(cd " + dir +
        " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test-ca -keyout ca.key"
        " -out ca.pem"
        " && for n in server client; do openssl req -newkey rsa:2048 -nodes -subj /CN=$n"
        " -keyout $n.key -out $n.csr && printf 'subjectAltName=IP:127.0.0.1\\n' > ext"
        " && openssl x509 -req -in $n.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
        " -extfile ext -out $n.pem; done) >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    Server broker{"start-mosquitto.sh", dir + "/broker",
                  "--tls " + dir + "/ca.pem " + dir + "/server.pem " + dir +
                      "/server.key --require-certificate"};
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port, "sub-tls", [&](mosquitto* m) {
        mosquitto_tls_set(m, (dir + "/ca.pem").c_str(), nullptr, (dir + "/client.pem").c_str(),
                          (dir + "/client.key").c_str(), nullptr);
    });
    auto o = options(broker.port, "mqtts://");
    o.caFile = dir + "/ca.pem";
    o.certFile = dir + "/client.pem";
    o.keyFile = dir + "/client.key";
    std::string error;
    auto d = MqttDelivery::start(o, dir + "/outbox", 1 << 30, {}, &error);
    ASSERT_TRUE(d) << error;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(enqueue(*d, i));
    ASSERT_TRUE(waitFor([&] { return sub.firstArrivals("fieldmeter/test/second").size() >= 5; }));
    EXPECT_EQ(sub.firstArrivals("fieldmeter/test/second"), upTo(5));

    o.keyFile = dir + "/missing.key";
    EXPECT_FALSE(MqttDelivery::start(o, dir + "/outbox2", 1 << 30, {}, &error));
    EXPECT_NE(error.find("--mqtt-key"), std::string::npos) << error;
}

}  // namespace
}  // namespace fm::deliver
