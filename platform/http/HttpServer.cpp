#include "platform/http/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/console/Console.h"
#include "platform/http/AccessToken.h"
#include "platform/http/HostHeader.h"
#include "platform/http/UrlPath.h"

namespace fm::platform {
namespace {

constexpr const char* kTokenCookie = "fieldmeter_token";
constexpr auto kKeepAliveEvery = std::chrono::seconds(15);
constexpr auto kDeadlineStep = std::chrono::milliseconds(100);
constexpr std::size_t kStreamBlock = 16 * 1024;
constexpr unsigned kMessagesPerMinute = 20;

// libmicrohttpd stops accepting at its own limit; ours is lower by this much, so that the
// connections that gave way or were refused (counted by the library until it has closed them)
// never keep the listening queue waiting.
unsigned libraryLimit(unsigned ours) {
    return ours + std::max(256u, ours / 2);
}

bool isIpv6(const std::string& host) {
    return host.find(':') != std::string::npos;
}

std::string hostAndPort(const std::string& host, int port) {
    return (isIpv6(host) ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string numericHost(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    } else if (address->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                    sizeof text);
    }
    return text;
}

// A bound, listening socket on the address (a name is looked up, its IPv4 addresses tried
// first), or -1 with *error saying why. Binding it here rather than in the library gives the
// system's own reason for a failure, the address bound and the port chosen for 0.
int listenOn(const ListenAddress& address, std::string* boundHost, int* port, std::string* error) {
    const std::string asked = hostAndPort(address.host, address.port);
    if (address.port < 0 || address.port > 65535) {
        *error = "cannot listen on port " + std::to_string(address.port) + ": not 0 to 65535";
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int lookup =
        ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found);
    if (lookup != 0 || found == nullptr) {
        *error = "cannot listen on " + asked + ": no such host name (" +
                 (lookup == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(lookup)) + ")";
        return -1;
    }
    std::vector<const addrinfo*> candidates;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET || a->ai_family == AF_INET6) {
            candidates.push_back(a);
        }
    }
    std::stable_partition(candidates.begin(), candidates.end(),
                          [](const addrinfo* a) { return a->ai_family == AF_INET; });
    int fd = -1;
    error->clear();
    for (const addrinfo* a : candidates) {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            ::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) == 0) {
            *boundHost = numericHost(a->ai_addr);
            *port = ntohs(storage.ss_family == AF_INET
                              ? reinterpret_cast<sockaddr_in*>(&storage)->sin_port
                              : reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
            break;
        }
        const int why = errno;
        if (error->empty()) {  // the first address's reason: the others are alternatives
            const std::string numeric = numericHost(a->ai_addr);
            *error = "cannot listen on " + asked +
                     (numeric == address.host ? "" : " (" + numeric + ")") + ": " +
                     (why == EADDRNOTAVAIL ? "not an address of this machine" : std::strerror(why));
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        error->clear();
    } else if (error->empty()) {
        *error = "cannot listen on " + asked + ": the name has no IPv4 or IPv6 address";
    }
    return fd;
}

// The answer to a connection beyond the limits, sent as soon as it is accepted: a client that
// never finishes its request is told too, and the listening queue keeps moving. The connection
// is then shut down; the library sees its end and closes it.
void refuse(int fd) {
    static constexpr char kAnswer[] =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Content-Length: 21\r\nCache-Control: no-store\r\nRetry-After: 1\r\n"
        "Connection: close\r\n\r\ntoo many connections\n";
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the client sent already is read, so that the close ends the stream (FIN) rather than
    // resetting it before the client has read the answer.
    char discard[4096];
    for (int i = 0; i < 4 && ::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0; ++i) {
    }
    ::shutdown(fd, SHUT_RDWR);
}

// Each connection takes a descriptor: the usual soft limit of 1024 would fail near the
// connection limit, so it is raised towards the hard limit. Returns a warning, or "".
std::string raiseFileLimit(rlim_t needed) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed) {
        return "";
    }
    const rlim_t wanted =
        limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
    if (wanted > limit.rlim_cur) {
        limit.rlim_cur = wanted;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur >= needed) {
        return "";
    }
    return "only " + std::to_string(limit.rlim_cur) +
           " files may be open at once: fewer connections than the limit fit";
}

std::string clientAddressOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return "";
    }
    char text[INET6_ADDRSTRLEN] = "";
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                    sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a)) {
            // A dual-stack socket's IPv4 client is the same client as on an IPv4 socket.
            ::inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
        } else {
            ::inet_ntop(AF_INET6, &a, text, sizeof text);
        }
    }
    return text;
}

MHD_Result collectValue(void* map, MHD_ValueKind kind, const char* key, std::size_t keySize,
                        const char* value, std::size_t valueSize) {
    auto& values = *static_cast<std::map<std::string, std::string>*>(map);
    const std::string text = value == nullptr ? std::string() : std::string(value, valueSize);
    if (kind == MHD_GET_ARGUMENT_KIND) {
        values[std::string(key, keySize)] = text;
        return MHD_YES;
    }
    std::string& joined = values[lowerCase(std::string(key, keySize))];
    if (!joined.empty()) {
        joined += lowerCase(std::string(key, keySize)) == "cookie" ? "; " : ", ";
    }
    joined += text;
    return MHD_YES;
}

// A header name a handler may set: an HTTP token, and none of those that frame the message,
// which the server sets itself.
bool isHandlerHeaderName(const std::string& name) {
    const std::string lower = lowerCase(name);
    return !name.empty() &&
           name.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
               "!#$%&'*+-.^_`|~") == std::string::npos &&
           lower != "content-length" && lower != "transfer-encoding" && lower != "connection" &&
           lower != "content-type";
}

void freeString(void* text) {
    delete static_cast<std::string*>(text);
}

// The response's descriptor, open on a regular file, and the bytes of it to send; -1 with
// *status and *why when there is none.
int openResponseFile(const HttpResponse& response, std::uint64_t* size, int* status,
                     std::string* why) {
    int fd = response.fileDescriptor;
    if (fd < 0) {
        // Without waiting: a FIFO would hold the server's one thread until a writer came.
        fd = ::open(response.filePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *status = errno == ENOENT ? 404 : 500;
            *why = "cannot open " + response.filePath + ": " + std::strerror(errno);
            return -1;
        }
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *status = 500;
        *why = "a response's file is not a regular file";
        ::close(fd);
        return -1;
    }
    const auto actual = static_cast<std::uint64_t>(info.st_size);
    // Never more than the file holds: a Content-Length the body falls short of breaks the
    // connection midway.
    *size = response.fileSize == 0 ? actual : std::min(response.fileSize, actual);
    return fd;
}

// A header that HTTP cannot carry (a line break in a value, a name that is not a token) or that
// the server sets itself makes the handler's answer a "500": a response without it could say
// something the handler did not mean.
MHD_Response* libraryResponse(HttpResponse response, int* status, std::string* why) {
    MHD_Response* made = nullptr;
    if (response.fileDescriptor >= 0 || !response.filePath.empty()) {
        std::uint64_t size = 0;
        const int fd = openResponseFile(response, &size, status, why);
        if (fd < 0) {
            return nullptr;
        }
        made = MHD_create_response_from_fd64(size, fd);
        if (made == nullptr) {
            ::close(fd);
        }
    } else {
        auto* body = new std::string(std::move(response.body));
        made = MHD_create_response_from_buffer_with_free_callback_cls(body->size(), body->data(),
                                                                      &freeString, body);
        if (made == nullptr) {
            delete body;
        }
    }
    if (made == nullptr) {
        *status = 500;
        *why = "out of memory";
        return nullptr;
    }
    std::string type = response.contentType.empty() ? "text/plain" : response.contentType;
    if (type.starts_with("text/") && !type.starts_with("text/event-stream") &&
        lowerCase(type).find("charset=") == std::string::npos) {
        type += "; charset=utf-8";
    }
    bool cacheControl = false;
    bool ok = MHD_add_response_header(made, MHD_HTTP_HEADER_CONTENT_TYPE, type.c_str()) == MHD_YES;
    for (const auto& [name, value] : response.headers) {
        cacheControl = cacheControl || lowerCase(name) == "cache-control";
        ok = ok && isHandlerHeaderName(name) &&
             MHD_add_response_header(made, name.c_str(), value.c_str()) == MHD_YES;
    }
    if (!cacheControl) {
        ok = ok &&
             MHD_add_response_header(made, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store") == MHD_YES;
    }
    if (!ok || response.status < 100 || response.status > 599) {
        MHD_destroy_response(made);
        *status = 500;
        *why = ok ? "a response's status " + std::to_string(response.status) + " is not 100 to 599"
                  : "a response has a header that HTTP cannot carry";
        return nullptr;
    }
    *status = response.status;
    return made;
}

}  // namespace

struct HttpServer::Connection {
    std::string address;
    ConnectionLimits::Id id = 0;  // 0: refused
};

struct HttpServer::Request {
    std::string target;  // as the client sent it
    bool headersSeen = false;
    bool answered = false;
};

struct HttpServer::Glue {
    static Connection* connectionOf(MHD_Connection* connection) {
        const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info == nullptr ? nullptr : static_cast<Connection*>(info->socket_context);
    }

    static void* onUri(void* cls, const char* uri, MHD_Connection* connection) {
        if (const Connection* c = connectionOf(connection); c != nullptr) {
            static_cast<HttpServer*>(cls)->limits_.requestStarted(c->id,
                                                                  ConnectionLimits::Clock::now());
        }
        return new Request{uri == nullptr ? "" : uri};
    }

    static void onCompleted(void* cls, MHD_Connection* connection, void** requestContext,
                            MHD_RequestTerminationCode) {
        if (const Connection* c = connectionOf(connection); c != nullptr) {
            static_cast<HttpServer*>(cls)->limits_.requestEnded(c->id);
        }
        delete static_cast<Request*>(*requestContext);
        *requestContext = nullptr;
    }

    static void onConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<HttpServer*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            auto* c = new Connection{clientAddressOf(connection), 0};
            if (info != nullptr) {
                c->id = self->limits_.admit(info->connect_fd, c->address,
                                            ConnectionLimits::Clock::now());
                if (c->id == 0) {
                    refuse(info->connect_fd);
                }
            }
            *socketContext = c;
        } else {
            auto* c = static_cast<Connection*>(*socketContext);
            if (c != nullptr && c->id != 0) {
                self->limits_.release(c->id);  // before the library closes the socket
            }
            delete c;
            *socketContext = nullptr;
        }
    }

    static void onLibraryMessage(void* cls, const char* format, va_list arguments) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::string message = text;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
        static_cast<HttpServer*>(cls)->sayForLibrary(message);
    }

    static ssize_t readStream(void* reader, std::uint64_t, char* buffer, std::size_t max) {
        const long n = static_cast<EventStream::Reader*>(reader)->read(buffer, max);
        return n < 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(n);
    }

    static void freeStream(void* reader) { delete static_cast<EventStream::Reader*>(reader); }

    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char*,
                                const char* method, const char*, const char*,
                                std::size_t* uploadDataSize, void** requestContext) {
        auto* self = static_cast<HttpServer*>(cls);
        auto* request = static_cast<Request*>(*requestContext);
        if (request == nullptr || request->answered) {
            *uploadDataSize = 0;  // a body we did not ask for
            return MHD_YES;
        }
        const std::string verb = method == nullptr ? "" : method;
        if (!request->headersSeen) {
            request->headersSeen = true;
            if (const Connection* c = connectionOf(connection); c != nullptr) {
                self->limits_.headersComplete(c->id);
            }
            // The library closes a connection whose answer is queued on this first call: a
            // GET or HEAD is answered on the next, which follows at once, to keep it open.
            if (verb == "GET" || verb == "HEAD") {
                return MHD_YES;
            }
        }
        *uploadDataSize = 0;
        request->answered = true;
        bool close = false;
        int status = 500;
        MHD_Response* response = self->respond(connection, *request, verb, &status, &close);
        if (response == nullptr) {
            return MHD_NO;  // closes the connection
        }
        if (close) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        }
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(status), response);
        MHD_destroy_response(response);
        return queued;
    }
};

HttpServer::HttpServer(Options options, HttpRoutes routes)
    : options_(std::move(options)),
      routes_(std::move(routes)),
      limits_(options_.connectionLimit, options_.perAddressLimit,
              std::chrono::seconds(options_.headerSeconds)) {
    for (const std::string& path : routes_.streams()) {
        streams_[path] = std::make_unique<EventStream>();
    }
}

std::unique_ptr<HttpServer> HttpServer::start(Options options, HttpRoutes routes,
                                              std::string* error) {
    if (!options.token.empty() && !isUsableAccessToken(options.token)) {
        *error = "the access token must be 1 to 256 letters, digits, '-', '.', '_' or '~'";
        return nullptr;
    }
    if (options.connectionLimit == 0 || options.perAddressLimit == 0 ||
        options.timeoutSeconds == 0 || options.headerSeconds == 0) {
        *error = "the connection limits and the timeouts must be at least 1";
        return nullptr;
    }
    std::unique_ptr<HttpServer> server(new HttpServer(std::move(options), std::move(routes)));
    const Options& o = server->options_;
    int port = 0;
    const int fd = listenOn(o.address, &server->boundHost_, &port, error);
    if (fd < 0) {
        return nullptr;
    }
    const std::string fileWarning =
        raiseFileLimit(libraryLimit(o.connectionLimit) + 256);  // and the program's own files
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL |
                           MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    HttpServer* self = server.get();
    server->daemon_ = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Glue::onRequest, self, MHD_OPTION_EXTERNAL_LOGGER,
        &Glue::onLibraryMessage, self, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
        libraryLimit(o.connectionLimit), MHD_OPTION_CONNECTION_TIMEOUT, o.timeoutSeconds,
        MHD_OPTION_URI_LOG_CALLBACK, &Glue::onUri, self, MHD_OPTION_NOTIFY_COMPLETED,
        &Glue::onCompleted, self, MHD_OPTION_NOTIFY_CONNECTION, &Glue::onConnection, self,
        MHD_OPTION_END);
    {
        std::lock_guard lock(server->sayMutex_);
        server->starting_ = false;
        if (server->daemon_ == nullptr) {
            *error =
                "cannot start the web server on " + hostAndPort(server->boundHost_, port) + ": " +
                (server->startMessages_.empty() ? "libmicrohttpd refused" : server->startMessages_);
            if (::fcntl(fd, F_GETFD) != -1) {
                ::close(fd);  // the library leaves it open when it refuses early
            }
            return nullptr;
        }
    }
    server->port_ = port;
    server->hostNames_ = {"127.0.0.1", "localhost", "::1", server->boundHost_, o.address.host};
    if (!fileWarning.empty()) {
        server->say(fileWarning);
    }
    server->keepAliveThread_ = std::thread([self] { self->tend(); });
    return server;
}

HttpServer::~HttpServer() {
    if (keepAliveThread_.joinable()) {
        {
            std::lock_guard lock(keepAliveMutex_);
            stopping_ = true;
        }
        keepAliveWake_.notify_all();
        keepAliveThread_.join();
    }
    // The library must not be stopped with a connection suspended: closing the streams
    // resumes every one, and each then ends.
    for (auto& [path, stream] : streams_) {
        stream->close();
    }
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);
    }
}

bool HttpServer::tokenAccepted(MHD_Connection* connection, const HttpRequest& request,
                               bool* fromQuery) const {
    const std::string& token = options_.token;
    *fromQuery = false;
    if (const auto it = request.query.find("token"); it != request.query.end()) {
        *fromQuery = accessTokenMatches(it->second, token);
        if (*fromQuery) {
            return true;
        }
    }
    const char* cookie = nullptr;
    std::size_t cookieSize = 0;
    if (MHD_lookup_connection_value_n(connection, MHD_COOKIE_KIND, kTokenCookie,
                                      std::strlen(kTokenCookie), &cookie, &cookieSize) == MHD_YES &&
        cookie != nullptr && accessTokenMatches({cookie, cookieSize}, token)) {
        return true;
    }
    const std::string authorization = request.header("authorization");
    return lowerCase(authorization.substr(0, 7)) == "bearer " &&
           accessTokenMatches(authorization.substr(7), token);
}

MHD_Response* HttpServer::respond(MHD_Connection* connection, const Request& request,
                                  const std::string& method, int* status, bool* close) {
    const Connection* from = Glue::connectionOf(connection);
    std::string why;
    HttpResponse answer;
    HttpRequest in;
    const std::optional<std::string> path = decodeUrlPath(request.target);
    bool fromQuery = false;
    std::optional<HttpRoutes::Match> route;
    if (from == nullptr || from->id == 0) {
        answer = HttpResponse::text(503, "too many connections");
        *close = true;
    } else if (!path) {
        answer = HttpResponse::text(400, "bad request: the path is not a percent-encoded path");
        *close = true;
    } else {
        in.method = method;
        in.path = *path;
        in.clientAddress = from->address;
        MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &collectValue, &in.query);
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &collectValue, &in.headers);
        const auto& exempt = options_.tokenExempt;
        if (options_.token.empty() && !hostHeaderNames(in.header("host"), hostNames_)) {
            const bool usual = boundHost_ == "127.0.0.1" || boundHost_ == "::1";
            answer = HttpResponse::text(
                421,
                "misdirected request: without an access token this server answers only to "
                "the Host 127.0.0.1, localhost or [::1]" +
                    (usual ? ""
                           : " or " + (isIpv6(boundHost_) ? "[" + boundHost_ + "]" : boundHost_)) +
                    ", with any port or none");
        } else if (!options_.token.empty() &&
                   std::find(exempt.begin(), exempt.end(), in.path) == exempt.end() &&
                   !tokenAccepted(connection, in, &fromQuery)) {
            answer = HttpResponse::text(401, "unauthorized: the access token is missing or wrong");
            answer.headers.emplace_back(MHD_HTTP_HEADER_WWW_AUTHENTICATE,
                                        "Bearer realm=\"fieldmeter\"");
        } else if (method != "GET" && method != "HEAD") {
            answer = HttpResponse::text(405, "method not allowed: only GET and HEAD");
            answer.headers.emplace_back(MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
            *close = true;  // a body may follow that we will not read
        } else if (!(route = routes_.find(in.path))) {
            answer = HttpResponse::text(404, "not found");
        } else if (route->handler != nullptr) {
            in.remainder = route->remainder;
            try {
                answer = (*route->handler)(in);
            } catch (const std::exception& e) {  // must not unwind through the library
                say(in.method + " " + in.path + ": " + e.what());
                answer = HttpResponse::text(500, "internal error");
            }
        } else if (method == "GET") {
            EventStream& stream = *streams_.at(route->stream);
            std::unique_ptr<EventStream::Reader> reader =
                stream.subscribe([connection] { MHD_suspend_connection(connection); },
                                 [connection] { MHD_resume_connection(connection); });
            MHD_Response* events = MHD_create_response_from_callback(
                MHD_SIZE_UNKNOWN, kStreamBlock, &Glue::readStream, reader.get(), &Glue::freeStream);
            if (events == nullptr) {
                return nullptr;
            }
            reader.release();  // the response owns it now
            MHD_add_response_header(events, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
            MHD_add_response_header(events, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
            MHD_add_response_header(events, "X-Accel-Buffering", "no");  // proxies pass each event
            *status = 200;
            return events;
        } else {
            answer.contentType = "text/event-stream";
        }
    }
    if (fromQuery && in.path == "/") {
        answer.headers.emplace_back(MHD_HTTP_HEADER_SET_COOKIE,
                                    std::string(kTokenCookie) + "=" + options_.token +
                                        "; HttpOnly; SameSite=Strict; Path=/");
    }
    MHD_Response* made = libraryResponse(std::move(answer), status, &why);
    if (made == nullptr) {
        say(in.method + " " + in.path + ": " + why);
        made = libraryResponse(
            HttpResponse::text(*status, *status == 404 ? "not found" : "internal error"), status,
            &why);
    }
    return made;
}

std::string HttpServer::url(const std::string& path) const {
    return "http://" + hostAndPort(boundHost_, port_) + (path.starts_with("/") ? path : "/" + path);
}

std::size_t HttpServer::streamReaders(const std::string& stream) const {
    const auto it = streams_.find(stream);
    return it == streams_.end() ? 0 : it->second->readers();
}

bool HttpServer::publish(const std::string& stream, const std::string& data,
                         const std::string& eventName) {
    const auto it = streams_.find(stream);
    if (it == streams_.end()) {
        return false;
    }
    it->second->publish(data, eventName);
    return true;
}

void HttpServer::tend() {
    using Clock = ConnectionLimits::Clock;
    std::unique_lock lock(keepAliveMutex_);
    Clock::time_point keepAliveDue = Clock::now() + kKeepAliveEvery;
    while (true) {
        const Clock::time_point now = Clock::now();
        if (now >= keepAliveDue) {
            for (auto& [path, stream] : streams_) {
                stream->keepAlive();
            }
            keepAliveDue = now + kKeepAliveEvery;
        }
        // Deadlines are kept to a tenth of a second: a crowd must not wake this thread for each.
        const Clock::time_point wake =
            std::min(keepAliveDue, std::max(limits_.closeOverdue(now), now + kDeadlineStep));
        if (keepAliveWake_.wait_until(lock, wake, [this] { return stopping_; })) {
            return;
        }
    }
}

void HttpServer::sayForLibrary(const std::string& message) {
    // Once it runs, what the library says concerns one connection (a client that left, a
    // request it could not parse): no fault of the meter, and nothing to tell its user.
    std::lock_guard lock(sayMutex_);
    if (starting_ && startMessages_.empty()) {
        startMessages_ = message;  // the first says why the start failed; the rest follow
    }
}

void HttpServer::say(const std::string& message) {
    std::lock_guard lock(sayMutex_);
    if (starting_) {
        if (startMessages_.empty()) {
            startMessages_ = message;  // the first says why; the rest follow from it
        }
        return;
    }
    const long long minute = std::chrono::duration_cast<std::chrono::minutes>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    std::vector<std::string> lines;
    if (minute != minute_) {
        if (suppressed_ > 0) {
            lines.push_back(std::to_string(suppressed_) + " more messages were left out");
        }
        minute_ = minute;
        saidThisMinute_ = 0;
        suppressed_ = 0;
    }
    if (++saidThisMinute_ > kMessagesPerMinute) {
        ++suppressed_;
    } else {
        lines.push_back(message);
    }
    for (const std::string& line : lines) {
        if (options_.log) {
            options_.log("web server: " + line);
        } else {
            std::fprintf(stderr, "%s: web server: %s\n", fm::platform::programName(), line.c_str());
        }
    }
}

}  // namespace fm::platform
