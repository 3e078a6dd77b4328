#include "platform/metrics/MetricsServer.h"

#include <civetweb.h>

#include <cstring>
#include <mutex>

namespace fm::platform {
namespace {

constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

void initLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

}  // namespace

MetricsServer::MetricsServer(ListenAddress address, TextSource source)
    : address_(std::move(address)), source_(std::move(source)) {}

std::unique_ptr<MetricsServer> MetricsServer::start(const ListenAddress& address, TextSource source,
                                                    std::string* error) {
    initLibraryOnce();
    std::unique_ptr<MetricsServer> server(new MetricsServer(address, std::move(source)));
    const bool ipv6 = address.host.find(':') != std::string::npos;
    if (ipv6 && mg_check_feature(8) == 0) {
        *error = "cannot listen on [" + address.host + "]: this CivetWeb was built without IPv6";
        return nullptr;
    }
    const std::string ports =
        (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
    // A scrape takes one short request; a few threads are plenty, and no files are served.
    const char* options[] = {"listening_ports",    ports.c_str(), "num_threads", "4",
                             "request_timeout_ms", "10000",       nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = &MetricsServer::logMessage;
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = server.get();
    init.configuration_options = options;
    char text[256] = "";
    unsigned code = 0;
    mg_error_data errorData{};
    errorData.code = &code;
    errorData.text = text;
    errorData.text_buffer_size = sizeof text;
    server->context_ = mg_start2(&init, &errorData);
    server->starting_.store(false);
    if (server->context_ == nullptr) {
        // CivetWeb's first message names the address and the system's reason ("Address
        // already in use"); its error text only says that the ports could not be set up.
        *error = !server->startupMessages_.empty()
                     ? server->startupMessages_
                     : "cannot listen on " + ports + ": " + (text[0] != '\0' ? text : "unknown");
        return nullptr;
    }
    mg_server_port listening[4]{};
    const int n = mg_get_server_ports(server->context_, 4, listening);
    server->port_ = n > 0 ? listening[0].port : address.port;
    mg_set_request_handler(server->context_, "/metrics$", &MetricsServer::handle, server.get());
    return server;
}

MetricsServer::~MetricsServer() {
    if (context_ != nullptr) {
        mg_stop(context_);
    }
}

std::string MetricsServer::url() const {
    const bool ipv6 = address_.host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + address_.host + "]" : address_.host) + ":" +
           std::to_string(port_) + "/metrics";
}

int MetricsServer::logMessage(const mg_connection* connection, const char* message) {
    auto* self = static_cast<MetricsServer*>(mg_get_user_data(mg_get_context(connection)));
    if (self == nullptr || !self->starting_.load()) {
        return 0;
    }
    if (self->startupMessages_.empty()) {
        self->startupMessages_ = message;  // the first says why; the rest follow from it
    }
    return 1;  // said by start() instead
}

int MetricsServer::handle(mg_connection* connection, void* self) {
    const mg_request_info* request = mg_get_request_info(connection);
    const bool head = std::strcmp(request->request_method, "HEAD") == 0;
    if (!head && std::strcmp(request->request_method, "GET") != 0) {
        mg_send_http_error(connection, 405, "only GET and HEAD");
        return 405;
    }
    const std::string body = static_cast<MetricsServer*>(self)->source_();
    mg_send_http_ok(connection, kContentType, static_cast<long long>(body.size()));
    if (!head) {
        mg_write(connection, body.data(), body.size());
    }
    return 200;
}

}  // namespace fm::platform
