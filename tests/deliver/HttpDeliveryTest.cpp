// The line protocol against a real victoria-metrics, the webhook against a receiver of our own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>

#include "deliver/HttpDelivery.h"
#include "deliver/LineProtocol.h"
#include "tests/deliver/Servers.h"

namespace fm::deliver {
namespace {

using test::waitFor;
using namespace std::chrono_literals;

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// Every timestamp the store holds for the metric, in milliseconds.
std::vector<long long> exported(int port, const std::string& metric) {
    const std::string json = run("curl -s 'http://127.0.0.1:" + std::to_string(port) +
                                 "/api/v1/export' --data-urlencode 'match[]=" + metric + "'");
    std::vector<long long> out;
    for (auto at = json.find("\"timestamps\":["); at != std::string::npos;
         at = json.find("\"timestamps\":[", at + 1)) {
        const char* p = json.c_str() + at + 14;
        while (*p != ']' && *p != '\0') {
            char* end = nullptr;
            out.push_back(std::strtoll(p, &end, 10));
            p = *end == ',' ? end + 1 : end;
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(LineProtocolDelivery, StoreDownForTwentySecondsHoldsEveryPointOnce) {
    const std::string dir = test::freshDir("line-protocol");
    test::Server store{"start-victoria-metrics.sh", dir + "/store", ""};
    ASSERT_TRUE(store.start());
    std::string error;
    auto d = LineProtocolDelivery::start(
        {"http://127.0.0.1:" + std::to_string(store.port) + "/write?db=fm", ""}, dir + "/outbox",
        1 << 30, {}, &error);
    ASSERT_TRUE(d) << error;
    const long long base = (std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count() -
                            600) *
                           1000;
    std::vector<long long> expected;
    auto point = [&](int i) {
        expected.push_back(base + i * 1000);
        return d->enqueue(lineProtocolPoint("fmtest", {{"run", dir}}, {{"laeq", 40 + i * 0.5}},
                                            (base + i * 1000) * 1'000'000),
                          std::chrono::system_clock::now());
    };
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(point(i));
    ASSERT_TRUE(waitFor([&] { return exported(store.port, "fmtest_laeq").size() >= 10; }));
    store.stop();
    for (int i = 10; i < 30; ++i) {  // the deliberate outage
        ASSERT_TRUE(point(i));
        std::this_thread::sleep_for(1s);
    }
    EXPECT_FALSE(d->status().reachable);
    EXPECT_EQ(d->status().outbox.backlog, 20u);
    ASSERT_TRUE(store.start());
    for (int i = 30; i < 40; ++i) ASSERT_TRUE(point(i));
    ASSERT_TRUE(waitFor([&] {
        return d->status().outbox.backlog == 0 && exported(store.port, "fmtest_laeq").size() >= 40;
    }));
    EXPECT_EQ(exported(store.port, "fmtest_laeq"), expected);
    EXPECT_EQ(d->status().sent, 40u);
}

using test::Receiver;

TEST(WebhookDelivery, ReceiverDownThenUpGetsEachMessageOnceInOrder) {
    const std::string dir = test::freshDir("webhook");
    int port = 0;
    { port = Receiver(0).port; }  // a port with nobody listening, for now
    std::ofstream(dir + "/headers") << "# the receiver's token\nAuthorization: Bearer abc123\n";
    std::string error;
    auto d = WebhookDelivery::start(
        {"http://127.0.0.1:" + std::to_string(port) + "/hook", dir + "/headers"}, dir + "/outbox",
        1 << 30, {}, &error);
    ASSERT_TRUE(d) << error;
    const std::vector<std::string> sent = {"{\"n\":0}", "{\"n\":1}", "{\"bad\":2}", "{\"n\":3}"};
    for (const auto& s : sent) ASSERT_TRUE(d->enqueue(s, std::chrono::system_clock::now()));
    ASSERT_TRUE(waitFor([&] { return !d->status().lastError.empty(); }));

    Receiver up(port);
    ASSERT_TRUE(waitFor([&] { return d->status().outbox.backlog == 0; }));
    EXPECT_EQ(up.bodies(), sent);  // the malformed one is refused once, not retried
    EXPECT_EQ(d->status().sent, 3u);
    EXPECT_EQ(d->status().rejected, 1u);
    std::lock_guard lock(up.mutex);
    EXPECT_NE(up.requests[0].find("Authorization: Bearer abc123\r\n"), std::string::npos);
    EXPECT_NE(up.requests[0].find("Content-Type: application/json\r\n"), std::string::npos);
}

TEST(WebhookDelivery, HangingReceiverBlocksNeitherTheCallerNorTheStop) {
    const std::string dir = test::freshDir("webhook-hang");
    Receiver hanging(0, true);
    std::string error;
    auto d = WebhookDelivery::start({"http://127.0.0.1:" + std::to_string(hanging.port), ""},
                                    dir + "/outbox", 1 << 30, {}, &error);
    ASSERT_TRUE(d) << error;
    ASSERT_TRUE(d->enqueue("{\"n\":0}", std::chrono::system_clock::now()));
    ASSERT_TRUE(waitFor([&] { return hanging.bodies().size() == 1; }));
    auto slowest = 0ns;
    for (int i = 1; i < 200; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(
            d->enqueue("{\"n\":" + std::to_string(i) + "}", std::chrono::system_clock::now()));
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    EXPECT_LT(slowest, 50ms);
    const auto start = std::chrono::steady_clock::now();
    d.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    // What was not acknowledged is still there for the next run.
    auto box = Outbox::open(dir + "/outbox", 1 << 30, "check", {}, &error);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->status().backlog, 200u);
}

}  // namespace
}  // namespace fm::deliver
