#pragma once
// The program's web server (libmicrohttpd): one thread polls every connection with epoll, so
// slow clients and open event streams take no thread each. It answers GET and HEAD on the
// routes it was given and nothing else, and can require an access token; without one, it answers
// only requests that name this machine's loopback or its own address as their Host. It limits
// connections in all and per client address: at a limit, the oldest connection still sending
// its request's headers gives way to the new one, and only when none can is the new one answered
// "503" at once. A request's headers must come within a few seconds, and a connection idle for
// a while is closed. What the library says about single connections is not said. Qt-free.
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device/ListenAddress.h"
#include "platform/http/ConnectionLimits.h"
#include "platform/http/EventStream.h"
#include "platform/http/HttpRoutes.h"

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

namespace fm::platform {

class HttpServer {
  public:
    struct Options {
        ListenAddress address;
        // When not empty, a request must carry it as "?token=", the cookie "fieldmeter_token" or
        // "Authorization: Bearer"; otherwise it is answered "401". Paths in tokenExempt need none.
        std::string token;
        std::vector<std::string> tokenExempt{"/metrics"};
        // A browser takes about 6 connections and one per open page's stream: one client
        // address needs far fewer than a sixteenth of all.
        unsigned connectionLimit = 1024;
        unsigned perAddressLimit = 64;
        unsigned timeoutSeconds = 10;  // an idle connection is closed after this
        // A request's headers must be complete this long after the connection was accepted (or,
        // kept alive, after its request line came).
        unsigned headerSeconds = 5;
        // Where the server's messages go once it runs (on its own thread); standard error if
        // not set.
        std::function<void(const std::string&)> log;
    };

    // Listens and serves (a host name is looked up). Null, with *error saying why (the address
    // is in use, the name unknown or not this machine's, ...), on failure.
    static std::unique_ptr<HttpServer> start(Options options, HttpRoutes routes,
                                             std::string* error);
    // Ends every event stream and closes every connection without waiting for any client.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The port listened on (the chosen one when 0 was asked for).
    int port() const { return port_; }
    // "http://ADDRESS:PORT/path" with the address listened on (an IPv6 one in brackets).
    std::string url(const std::string& path = "/") const;

    // Sends one event to every open connection of the stream route `stream`; any thread, never
    // waits for a client. False when there is no such stream.
    bool publish(const std::string& stream, const std::string& data,
                 const std::string& eventName = {});
    // Any thread: how many connections follow the stream route `stream` now.
    std::size_t streamReaders(const std::string& stream) const;

  private:
    struct Connection;
    struct Request;
    struct Glue;  // libmicrohttpd's callbacks, in the .cpp
    friend struct Glue;

    HttpServer(Options options, HttpRoutes routes);
    // The answer to a request whose headers have arrived; *close when the connection must end
    // after it. Null when no response could be made.
    MHD_Response* respond(MHD_Connection* connection, const Request& request,
                          const std::string& method, int* status, bool* close);
    bool tokenAccepted(MHD_Connection* connection, const HttpRequest& request,
                       bool* fromQuery) const;
    void say(const std::string& message);
    void sayForLibrary(const std::string& message);
    // Its own thread: closes the connections whose headers are overdue, and keeps the event
    // streams alive.
    void tend();

    Options options_;
    HttpRoutes routes_;
    ConnectionLimits limits_;
    std::map<std::string, std::unique_ptr<EventStream>> streams_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    std::string boundHost_;               // numeric
    std::vector<std::string> hostNames_;  // a request's Host may name without a token
    std::mutex sayMutex_;
    bool starting_ = true;  // messages go to startMessages_ until the daemon runs
    std::string startMessages_;
    unsigned saidThisMinute_ = 0;  // messages are limited: a flood of clients must not flood
    unsigned suppressed_ = 0;      // the log
    long long minute_ = 0;
    std::mutex keepAliveMutex_;
    std::condition_variable keepAliveWake_;
    bool stopping_ = false;
    std::thread keepAliveThread_;
};

}  // namespace fm::platform
