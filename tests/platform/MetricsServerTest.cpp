// The metrics endpoint's HTTP side, through CivetWeb's own client: /metrics answers with the
// callback's text, other paths are not found, and a port in use is refused with a message naming
// it.
#include <civetweb.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/metrics/MetricsServer.h"

namespace fm::platform {
namespace {

struct Response {
    int status = 0;
    std::string contentType;
    std::string body;
};

Response get(int port, const std::string& path) {
    char error[256] = "";
    mg_connection* c = mg_connect_client("127.0.0.1", port, 0, error, sizeof error);
    if (c == nullptr) {
        ADD_FAILURE() << "cannot connect: " << error;
        return {};
    }
    mg_printf(c, "GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", path.c_str());
    Response r;
    if (mg_get_response(c, error, sizeof error, 10000) < 0) {
        ADD_FAILURE() << "no response: " << error;
        mg_close_connection(c);
        return r;
    }
    const mg_response_info* info = mg_get_response_info(c);
    r.status = info->status_code;
    if (const char* type = mg_get_header(c, "Content-Type")) {
        r.contentType = type;
    }
    char buffer[4096];
    for (int n; (n = mg_read(c, buffer, sizeof buffer)) > 0;) {
        r.body.append(buffer, static_cast<size_t>(n));
    }
    mg_close_connection(c);
    return r;
}

TEST(MetricsServer, ServesTheTextAtMetricsOnlyAndRefusesABusyPort) {
    std::string error;
    int calls = 0;
    auto server = MetricsServer::start(
        {"127.0.0.1", 0}, [&calls] { return "fieldmeter_test " + std::to_string(++calls) + "\n"; },
        &error);
    ASSERT_NE(server, nullptr) << error;
    ASSERT_GT(server->port(), 0);
    EXPECT_EQ(server->url(), "http://127.0.0.1:" + std::to_string(server->port()) + "/metrics");

    const Response first = get(server->port(), "/metrics");
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.contentType, "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(first.body, "fieldmeter_test 1\n");
    EXPECT_EQ(get(server->port(), "/metrics").body, "fieldmeter_test 2\n");  // made afresh
    EXPECT_EQ(get(server->port(), "/").status, 404);
    EXPECT_EQ(get(server->port(), "/metrics/x").status, 404);

    auto second = MetricsServer::start(
        {"127.0.0.1", server->port()}, [] { return ""; }, &error);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(error.find("127.0.0.1:" + std::to_string(server->port())), std::string::npos)
        << error;
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}

TEST(MetricsServer, ListenAddressIsPortOrHostAndPort) {
    std::string error;
    auto a = parseListenAddress("9100", &error);
    ASSERT_TRUE(a) << error;
    EXPECT_EQ(a->host, "127.0.0.1");
    EXPECT_EQ(a->port, 9100);
    a = parseListenAddress("0.0.0.0:80", &error);
    ASSERT_TRUE(a) << error;
    EXPECT_EQ(a->host, "0.0.0.0");
    EXPECT_EQ(a->port, 80);
    a = parseListenAddress("[::1]:9100", &error);
    ASSERT_TRUE(a) << error;
    EXPECT_EQ(a->host, "::1");
    for (const char* bad : {"", "65536", "host:", ":9100", "::1:9100", "91a0", "[::1]9100"}) {
        EXPECT_FALSE(parseListenAddress(bad, &error)) << bad;
    }
}

}  // namespace
}  // namespace fm::platform
