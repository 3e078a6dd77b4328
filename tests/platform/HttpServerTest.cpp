// The web server over real sockets on loopback addresses: routes, methods, event streams, crowds
// of slow clients, connection limits, the Host rule and the access token. Every wait for the
// server is bounded by a socket timeout that only a failure reaches.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/AccessToken.h"
#include "platform/http/HttpServer.h"

namespace fm::platform {
namespace {

int connectTo(int port, const char* host = "127.0.0.1", const char* from = nullptr) {
    addrinfo hints{}, *to = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    EXPECT_EQ(::getaddrinfo(host, std::to_string(port).c_str(), &hints, &to), 0);
    const int fd = ::socket(to->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{10, 0};  // a failure limit, never reached by a working server
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (from != nullptr) {
        sockaddr_in source{AF_INET, 0, {}, {}};
        ::inet_pton(AF_INET, from, &source.sin_addr);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source), 0);
    }
    EXPECT_EQ(::connect(fd, to->ai_addr, to->ai_addrlen), 0) << std::strerror(errno);
    ::freeaddrinfo(to);
    return fd;
}

void sendText(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
}

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
    bool closed = false;  // the server closed the connection after the reply
};

// A reply on the socket; with `head`, no body follows the headers.
Reply readReply(int fd, bool head = false) {
    Reply r;
    std::string in;
    char buf[65536];
    std::size_t end;
    while ((end = in.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            ADD_FAILURE() << "no reply headers: " << in;
            return r;
        }
        in.append(buf, static_cast<std::size_t>(n));
    }
    std::sscanf(in.c_str(), "HTTP/1.1 %d", &r.status);
    for (std::size_t at = in.find("\r\n") + 2; at < end; at = in.find("\r\n", at) + 2) {
        const std::size_t colon = in.find(':', at);
        std::string name = in.substr(at, colon - at);
        for (char& c : name) c = static_cast<char>(std::tolower(c));
        r.headers[name] = in.substr(colon + 2, in.find("\r\n", at) - colon - 2);
    }
    in.erase(0, end + 4);
    const std::size_t length =
        head || !r.headers.count("content-length") ? 0 : std::stoul(r.headers["content-length"]);
    while (in.size() < length) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, static_cast<std::size_t>(n));
    }
    r.body = in;
    r.closed = r.headers["connection"] == "close" && ::recv(fd, buf, sizeof buf, 0) == 0;
    return r;
}

Reply get(int port, const std::string& target, const std::string& method = "GET",
          const std::string& headers = "", const char* host = "127.0.0.1") {
    const int fd = connectTo(port, host);
    sendText(fd, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                     headers + "\r\n");
    Reply r = readReply(fd, method == "HEAD");
    ::close(fd);
    return r;
}

// A client of an event stream, reading the chunked body event by event.
struct EventClient {
    int fd;
    std::string raw, body;
    explicit EventClient(int port) : fd(connectTo(port)) {
        sendText(fd, "GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
        Reply r = readReply(fd, true);
        EXPECT_EQ(r.headers["content-type"], "text/event-stream");
        raw = r.body;
    }
    ~EventClient() { ::close(fd); }
    // The next event's wire form (comments left out); "" once the stream ends.
    std::string next() {
        while (true) {
            if (const std::size_t end = body.find("\n\n"); end != std::string::npos) {
                std::string event = body.substr(0, end + 2);
                body.erase(0, end + 2);
                if (event[0] != ':') return event;
                continue;
            }
            if (const std::size_t line = raw.find("\r\n"); line != std::string::npos) {
                const std::size_t size = std::stoul(raw.substr(0, line), nullptr, 16);
                if (size == 0) return "";
                if (raw.size() >= line + size + 4) {
                    body += raw.substr(line + 2, size);
                    raw.erase(0, line + size + 4);
                    continue;
                }
            }
            char buf[65536];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return "";
            raw.append(buf, static_cast<std::size_t>(n));
        }
    }
};

std::unique_ptr<HttpServer> startServer(HttpRoutes routes, const HttpServer::Options& options) {
    std::string error;
    auto server = HttpServer::start(options, std::move(routes), &error);
    EXPECT_NE(server, nullptr) << error;
    return server;
}

std::unique_ptr<HttpServer> startServer(HttpRoutes routes) {
    static const HttpServer::Options defaults;
    return startServer(std::move(routes), defaults);
}

TEST(HttpServer, AnswersGetAndHeadOnItsRoutesOnly) {
    const std::string file = ::testing::TempDir() + "http-server-file.txt";
    std::ofstream(file) << "0123456789";
    HttpRoutes routes;
    routes.exact("/metrics", [](const HttpRequest& r) {
        return HttpResponse::text(200, "m " + r.clientAddress + " " + r.query.at("a"));
    });
    routes.prefix("/files/", [](const HttpRequest& r) {
        return HttpResponse::text(200, r.method + " " + r.remainder);
    });
    routes.exact("/download", [file](const HttpRequest&) {
        HttpResponse r;
        r.fileDescriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        r.fileSize = 4;
        r.contentType = "application/octet-stream";
        r.headers = {{"Content-Disposition", "attachment; filename=\"x.txt\""},
                     {"Cache-Control", "max-age=60"}};
        return r;
    });
    const std::string fifo = ::testing::TempDir() + "http-server-fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    routes.exact("/fifo", [fifo](const HttpRequest&) {
        HttpResponse r;
        r.filePath = fifo;
        return r;
    });
    routes.exact("/injected", [](const HttpRequest& r) {
        HttpResponse a = HttpResponse::text(200, "a");
        const bool te = r.query.count("te") != 0;
        a.headers = {{te ? "Transfer-Encoding" : "X-A", te ? "chunked" : "a\r\nX-B: b"}};
        return a;
    });
    auto server = startServer(routes);
    ASSERT_NE(server, nullptr);
    const int port = server->port();
    EXPECT_EQ(server->url("/metrics"), "http://127.0.0.1:" + std::to_string(port) + "/metrics");

    Reply r = get(port, "/metrics?a=x%20y");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "m 127.0.0.1 x y\n");
    EXPECT_EQ(r.headers["content-type"], "text/plain; charset=utf-8");
    EXPECT_EQ(r.headers["cache-control"], "no-store");
    r = get(port, "/metrics?a=bb", "HEAD");
    EXPECT_EQ(r.headers["content-length"], "15");  // GET's "m 127.0.0.1 bb\n"
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(get(port, "/files/%2e%2e/secret").body, "GET ../secret\n");
    EXPECT_EQ(get(port, "/files/a%2Fb", "HEAD").headers["content-length"], "9");  // "HEAD a/b\n"

    r = get(port, "/download");
    EXPECT_EQ(r.body, "0123");
    EXPECT_EQ(r.headers["content-disposition"], "attachment; filename=\"x.txt\"");
    EXPECT_EQ(r.headers["cache-control"], "max-age=60");

    for (const char* missing : {"/files", "/metric", "/metrics/", "/download/x", "/"}) {
        r = get(port, missing);
        EXPECT_EQ(r.status, 404) << missing;
        EXPECT_EQ(r.body, "not found\n") << missing;
    }
    EXPECT_EQ(get(port, "/files/a%00b").status, 400);  // a NUL would cut the path short
    EXPECT_EQ(get(port, "/fifo").status, 500);      // no writer: never waited for, no regular file
    EXPECT_EQ(get(port, "/injected").status, 500);  // a header must not make another
    EXPECT_EQ(get(port, "/injected?te").status, 500);
    for (const char* method : {"POST", "DELETE", "OPTIONS"}) {
        r = get(port, "/metrics?a=1", method);
        EXPECT_EQ(r.status, 405) << method;
        EXPECT_EQ(r.headers["allow"], "GET, HEAD") << method;
    }
}

TEST(HttpServer, StartFailsWithTheReasonForABusyPortOrAHostNotOfThisMachine) {
    auto first = startServer(HttpRoutes());
    ASSERT_NE(first, nullptr);
    std::string error;
    HttpServer::Options options;
    options.address = {"127.0.0.1", first->port()};
    EXPECT_EQ(HttpServer::start(options, HttpRoutes(), &error), nullptr);
    EXPECT_EQ(error, "cannot listen on 127.0.0.1:" + std::to_string(first->port()) +
                         ": Address already in use");
    options.address = {"no-such-host.invalid", 0};
    EXPECT_EQ(HttpServer::start(options, HttpRoutes(), &error), nullptr);
    EXPECT_TRUE(error.starts_with("cannot listen on no-such-host.invalid:0: no such host name ("))
        << error;
    options.address = {"192.0.2.1", 9100};  // an address of no machine here
    EXPECT_EQ(HttpServer::start(options, HttpRoutes(), &error), nullptr);
    EXPECT_EQ(error, "cannot listen on 192.0.2.1:9100: not an address of this machine");
    options.address = {"localhost", 0};  // a name, and any free port
    auto named = HttpServer::start(options, HttpRoutes(), &error);
    ASSERT_NE(named, nullptr) << error;
    EXPECT_NE(named->port(), 0);
    EXPECT_EQ(named->url("/m"), "http://127.0.0.1:" + std::to_string(named->port()) + "/m");

    options.address = {"::1", 0};
    auto v6 = HttpServer::start(
        options,
        HttpRoutes().exact(
            "/x", [](const HttpRequest& r) { return HttpResponse::text(200, r.clientAddress); }),
        &error);
    if (v6 == nullptr) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error;
    }
    EXPECT_EQ(v6->url("x"), "http://[::1]:" + std::to_string(v6->port()) + "/x");
    EXPECT_EQ(get(v6->port(), "/x", "GET", "", "::1").body, "::1\n");
}

TEST(HttpServer, StreamClientsGetEachEventInOrderAndAStalledOneHoldsUpNoOne) {
    EXPECT_EQ(formatServerSentEvent("a\r\nb\rc\n", "x\ny"),
              "event: x y\ndata: a\ndata: b\ndata: c\ndata: \n\n");
    auto server = startServer(HttpRoutes().stream("/events"));
    ASSERT_NE(server, nullptr);
    EventClient a(server->port()), b(server->port());
    EXPECT_TRUE(server->publish("/events", "one"));
    EXPECT_TRUE(server->publish("/events", "two\nlines", "named"));
    EXPECT_TRUE(server->publish("/events", "three"));
    EXPECT_FALSE(server->publish("/other", "none"));
    for (EventClient* c : {&a, &b}) {
        EXPECT_EQ(c->next(), "data: one\n\n");
        EXPECT_EQ(c->next(), "event: named\ndata: two\ndata: lines\n\n");
        EXPECT_EQ(c->next(), "data: three\n\n");
    }

    // c reads nothing while 100 events of 128 KiB go out: far more than the socket buffers and
    // the stream's backlog together hold.
    EventClient c(server->port());
    EXPECT_EQ(c.next(), "data: three\n\n");  // the latest, at once
    const std::string bulk(128 * 1024, 'x');
    for (int i = 1; i <= 100; ++i) {
        server->publish("/events", std::to_string(i) + " " + bulk);
    }
    auto numberOf = [](const std::string& event) { return std::stoi(event.substr(6)); };
    for (int seen = 0, n; seen < 100; seen = n) {
        n = numberOf(a.next());
        ASSERT_GT(n, seen);
    }
    int received = 0;
    for (int seen = 0, n; seen < 100; seen = n, ++received) {
        n = numberOf(c.next());
        ASSERT_GT(n, seen);
    }
    EXPECT_LT(received, 100);  // the oldest it had not been sent gave way to the newest

    EventClient d(server->port());
    EXPECT_EQ(d.next().substr(0, 10), "data: 100 ");  // the latest, at once
    server.reset();                                   // stopping ends the open streams
    EXPECT_EQ(d.next(), "");
}

// Sends one more header line to each of its sockets every `every`: clients that never finish a
// request.
struct SlowClients {
    explicit SlowClients(std::chrono::milliseconds every = std::chrono::seconds(2))
        : every(every) {}
    const std::chrono::milliseconds every;
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<int> fds;
    bool stop = false;
    std::thread thread{[this] {
        std::unique_lock lock(mutex);
        while (!wake.wait_for(lock, every, [this] { return stop; })) {
            for (const int fd : fds) ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        }
    }};
    int add(int fd) {
        sendText(fd, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        std::lock_guard lock(mutex);
        fds.push_back(fd);
        return fd;
    }
    ~SlowClients() {
        std::unique_lock lock(mutex);
        stop = true;
        lock.unlock();
        wake.notify_all();
        thread.join();
        for (const int fd : fds) ::close(fd);
    }
};

bool closedByServer(int fd) {  // waits for it (up to the socket's timeout)
    char byte;
    return ::recv(fd, &byte, 1, 0) == 0;
}

bool stillOpen(int fd) {
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
}

TEST(HttpServer, AFullServerClosesTheOldestUnfinishedRequestsFirstAndAnswersAtOnce) {
    HttpServer::Options small;
    small.connectionLimit = 6;
    small.perAddressLimit = 3;
    small.headerSeconds = small.timeoutSeconds = 60;  // only the limits close anything here
    auto server = startServer(
        HttpRoutes().exact("/m", [](const HttpRequest&) { return HttpResponse::text(200, "ok"); }),
        small);
    ASSERT_NE(server, nullptr);
    const int port = server->port();
    SlowClients slow;
    std::vector<int> a, b;
    for (int i = 0; i < 3; ++i) a.push_back(slow.add(connectTo(port, "127.0.0.1", "127.0.0.2")));
    for (int i = 0; i < 3; ++i) b.push_back(slow.add(connectTo(port, "127.0.0.1", "127.0.0.3")));
    std::vector<int> kept;  // complete requests from 127.0.0.4, idle after their answer
    auto keptGet = [&] {
        kept.push_back(connectTo(port, "127.0.0.1", "127.0.0.4"));
        sendText(kept.back(), "GET /m HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        return readReply(kept.back()).status;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(keptGet(), 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(closedByServer(a[0]));  // the oldest unfinished gave way
    EXPECT_TRUE(stillOpen(a[1]));
    // A fourth from one address: its own oldest gives way, though a[1] is older.
    slow.add(connectTo(port, "127.0.0.1", "127.0.0.3"));
    EXPECT_TRUE(closedByServer(b[0]));
    EXPECT_TRUE(stillOpen(a[1]));
    EXPECT_EQ(keptGet(), 200);
    EXPECT_EQ(keptGet(), 200);
    EXPECT_TRUE(closedByServer(a[1]));
    EXPECT_TRUE(closedByServer(a[2]));
    // Three finished connections from 127.0.0.4: nothing of its own can give way, and the
    // fourth is told at once, before it has sent a byte.
    const int refused = connectTo(port, "127.0.0.1", "127.0.0.4");
    const Reply over = readReply(refused);
    EXPECT_EQ(over.status, 503);
    EXPECT_EQ(over.body, "too many connections\n");
    EXPECT_TRUE(over.closed);
    EXPECT_TRUE(stillOpen(b[1]));
    for (const int fd : kept) ::close(fd);
    ::close(refused);
}

TEST(HttpServer, HeadersMustComeWithinTheDeadlineAndAnIdleConnectionIsClosedAfterTheTimeout) {
    auto routes =
        HttpRoutes().exact("/m", [](const HttpRequest&) { return HttpResponse::text(200, "ok"); });
    HttpServer::Options options;
    options.headerSeconds = 1;
    options.timeoutSeconds = 30;
    auto server = startServer(routes, options);
    ASSERT_NE(server, nullptr);
    const int kept = connectTo(server->port());
    sendText(kept, "GET /m HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(readReply(kept).status, 200);
    SlowClients slow(std::chrono::milliseconds(200));  // never idle for the timeout
    EXPECT_TRUE(closedByServer(slow.add(connectTo(server->port()))));
    EXPECT_TRUE(stillOpen(kept));  // idle since its answer, for longer than the deadline
    sendText(kept, "GET /m HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(readReply(kept).body, "ok\n");
    ::close(kept);

    options.headerSeconds = 30;
    options.timeoutSeconds = 1;
    server = startServer(routes, options);
    ASSERT_NE(server, nullptr);
    const int idle = connectTo(server->port());
    EXPECT_TRUE(closedByServer(idle));  // by the idle timeout, not by the socket's 10-s limit
    ::close(idle);
}

TEST(HttpServer, WithoutATokenOnlyRequestsNamingThisMachineAreAnswered) {
    auto routes =
        HttpRoutes().exact("/", [](const HttpRequest&) { return HttpResponse::text(200, "page"); });
    HttpServer::Options options;
    std::unique_ptr<HttpServer> server;
    auto status = [&](const std::string& headers) {
        const int fd = connectTo(server->port(), options.address.host.c_str());
        sendText(fd, "GET / HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n");
        const Reply r = readReply(fd);
        ::close(fd);
        EXPECT_TRUE(r.status != 421 || r.body.starts_with("misdirected request: without an "
                                                          "access token"));
        return r.status;
    };
    server = startServer(routes, options);
    ASSERT_NE(server, nullptr);
    for (const char* host :
         {"127.0.0.1", "127.0.0.1:9100", "localhost", "LocalHost:80", "[::1]", "[::1]:9100"}) {
        EXPECT_EQ(status("Host: " + std::string(host) + "\r\n"), 200) << host;
    }
    for (const char* host :
         {"evil.example", "evil.example:9100", "localhost.", "127.0.0.2", "127.0.0.1.evil.example",
          "localhost:80x", "::1", "[::1", "[a]:1", "127.0.0.1:", ""}) {
        EXPECT_EQ(status("Host: " + std::string(host) + "\r\n"), 421) << host;
    }
    EXPECT_EQ(status(""), 421);  // HTTP/1.1 without a Host
    EXPECT_EQ(status("Host: localhost\r\nHost: evil.example\r\n"), 421);
    options.address = {"127.0.0.5", 0};
    server = startServer(routes, options);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(status("Host: 127.0.0.5:1\r\n"), 200);
    EXPECT_EQ(status("Host: 127.0.0.6\r\n"), 421);
    options.token = "abc123";  // the token decides alone
    server = startServer(routes, options);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(status("Host: evil.example\r\nAuthorization: Bearer abc123\r\n"), 200);
}

TEST(HttpServer, TheTokenGuardsEveryPathButTheExemptOnes) {
    HttpServer::Options options;
    options.token = "abc123";
    auto page = [](const HttpRequest&) { return HttpResponse::text(200, "page"); };
    auto server = startServer(HttpRoutes().exact("/", page).exact("/metrics", page), options);
    ASSERT_NE(server, nullptr);
    const int port = server->port();
    for (const std::string line :
         {"/", "/?token=abc124", "/?token=abc12", "/?token=abc1234", "/nothing",
          "/ Cookie: fieldmeter_token=abc124", "/ Authorization: Bearer abc12",
          "/ Authorization: Basic abc123"}) {
        const std::size_t space = line.find(' ');
        const std::string headers =
            space == std::string::npos ? "" : line.substr(space + 1) + "\r\n";
        const Reply r = get(port, line.substr(0, space), "GET", headers);
        EXPECT_EQ(r.status, 401) << line;
        EXPECT_EQ(r.body, "unauthorized: the access token is missing or wrong\n");
        EXPECT_EQ(r.headers.count("set-cookie"), 0u);
    }
    Reply r = get(port, "/?token=abc123");
    EXPECT_EQ(r.body, "page\n");
    EXPECT_EQ(r.headers["set-cookie"],
              "fieldmeter_token=abc123; HttpOnly; SameSite=Strict; Path=/");
    r = get(port, "/", "GET", "Cookie: a=1; fieldmeter_token=abc123\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.headers.count("set-cookie"), 0u);
    EXPECT_EQ(get(port, "/", "GET", "Authorization: bearer abc123\r\n").status, 200);
    EXPECT_EQ(get(port, "/metrics").status, 200);

    std::string error;
    const std::string token = makeAccessToken(&error);
    EXPECT_EQ(token.size(), 32u) << error;
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(makeAccessToken(&error), token);
    options.token = "a;b";  // a cookie cannot hold it
    EXPECT_EQ(HttpServer::start(options, HttpRoutes(), &error), nullptr);
}

}  // namespace
}  // namespace fm::platform
