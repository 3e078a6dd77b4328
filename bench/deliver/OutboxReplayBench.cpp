// How fast a backlog leaves the outbox once the broker is back: a day of second-sized JSON
// messages (86,400 of about 2.5 kB) queued while the broker was away, then delivered with QoS 1
// to a mosquitto started here. The figure counts from the delivery's start (connecting
// included) to the last acknowledgement.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "BenchSummary.h"
#include "deliver/MqttDelivery.h"

namespace {

std::string secondJson(int seq) {
    std::string json = "{\"time_utc\":\"2026-01-01T00:00:00Z\",\"seq\":" + std::to_string(seq) +
                       ",\"input\":\"default\",\"calibrated\":true,\"calibration_offset_db\":"
                       "0.0,\"overload\":false";
    for (int q = 0; json.size() < 2400; ++q) {
        json += ",\"quantity_" + std::to_string(q) + "\":" + std::to_string(40.0 + q * 0.37);
    }
    return json + "}";
}

}  // namespace

int main() {
    using namespace std::chrono;
    const std::string dir = std::string(FM_BINARY_DIR) + "/bench-outbox-replay";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/broker");
    const std::string start =
        std::string(FM_SOURCE_DIR) + "/scripts/start-mosquitto.sh " + dir + "/broker";
    FILE* p = ::popen(start.c_str(), "r");
    int pid = 0;
    if (p == nullptr || std::fscanf(p, "%d", &pid) != 1) {
        std::fprintf(stderr, "bench_outbox_replay: no broker\n");
        return 1;
    }
    ::pclose(p);
    int port = 0;
    std::ifstream(dir + "/broker/port") >> port;
    ::kill(pid, SIGTERM);  // away while the backlog builds up
    std::this_thread::sleep_for(milliseconds(500));

    fm::deliver::MqttOptions options;
    options.url = "mqtt://127.0.0.1:" + std::to_string(port);
    options.topicPrefix = "fieldmeter/bench";
    constexpr int kMessages = 86400;
    std::string error;
    {
        auto d = fm::deliver::MqttDelivery::start(options, dir + "/outbox", 1ull << 30, {}, &error);
        if (!d) {
            std::fprintf(stderr, "bench_outbox_replay: %s\n", error.c_str());
            return 1;
        }
        const auto madeAt = system_clock::now();
        for (int i = 0; i < kMessages; ++i) d->enqueue("second", secondJson(i), madeAt);
    }
    p = ::popen(start.c_str(), "r");
    if (p == nullptr || std::fscanf(p, "%d", &pid) != 1) return 1;
    ::pclose(p);

    const auto t0 = steady_clock::now();
    auto d = fm::deliver::MqttDelivery::start(options, dir + "/outbox", 1ull << 30, {}, &error);
    while (d && d->status().outbox.backlog > 0 && steady_clock::now() - t0 < minutes(10)) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    const double seconds = duration<double>(steady_clock::now() - t0).count();
    const auto status = d->status();
    d.reset();
    ::kill(pid, SIGTERM);
    std::filesystem::remove_all(dir + "/outbox");
    if (status.outbox.backlog > 0 || status.published != kMessages) {
        std::fprintf(stderr, "bench_outbox_replay: %llu of %d delivered\n",
                     static_cast<unsigned long long>(status.published), kMessages);
        return 1;
    }
    std::printf("%d messages in %.2f s\n", kMessages, seconds);
    fm::bench::recordSummary("outbox_replay_msgs_per_s", kMessages / seconds);
    return 0;
}
