#pragma once
// A small HTTP server (CivetWeb) that answers GET /metrics with the text a callback makes. The
// callback runs on the server's own threads, never on the main or audio thread, so it must read
// only values that are safe to read from any thread (atomics). Anything else is "404 Not Found".
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/device/ListenAddress.h"

struct mg_context;
struct mg_connection;

namespace fm::platform {

class MetricsServer {
  public:
    using TextSource = std::function<std::string()>;

    // Starts listening. Null, with *error saying why (e.g. the port is in use), on failure.
    static std::unique_ptr<MetricsServer> start(const ListenAddress& address, TextSource source,
                                                std::string* error);
    // Stops listening; returns once no request is being answered.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // The port actually listened on (the chosen one when 0 was asked for).
    int port() const { return port_; }
    // "http://HOST:PORT/metrics"
    std::string url() const;

  private:
    MetricsServer(ListenAddress address, TextSource source);
    static int handle(mg_connection* connection, void* self);
    static int logMessage(const mg_connection* connection, const char* message);

    ListenAddress address_;
    TextSource source_;
    mg_context* context_ = nullptr;
    int port_ = 0;
    std::atomic<bool> starting_{true};
    std::string startupMessages_;  // CivetWeb's messages while starting (start()'s thread)
};

}  // namespace fm::platform
