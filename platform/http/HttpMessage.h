#pragma once
// What a route's handler receives and returns. Qt-free.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fm::platform {

struct HttpRequest {
    std::string method;         // "GET" or "HEAD": nothing else reaches a handler
    std::string path;           // URL-decoded, without the query
    std::string remainder;      // a prefix route's URL-decoded rest of the path
    std::string clientAddress;  // "127.0.0.1", "::1" (an IPv4-mapped IPv6 address as IPv4)
    std::map<std::string, std::string> query;    // decoded parameters; the last of a repeated name
    std::map<std::string, std::string> headers;  // lower-case names, e.g. "cookie"

    // The header's value, or "" when it was not sent. The name in any case.
    std::string header(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    // Empty: text/plain. A text/... type without a charset gets "; charset=utf-8".
    std::string contentType;
    std::string body;
    // Extra headers (Set-Cookie, Content-Disposition, ...). "Cache-Control: no-store" is added
    // unless one of these is a Cache-Control. Content-Type, Content-Length, Transfer-Encoding
    // and Connection are the server's: a handler that sets one is answered "500".
    std::vector<std::pair<std::string, std::string>> headers;
    // A file instead of the body, streamed from disk: an open descriptor, which the server
    // closes, or a path for the server to open. fileSize bytes from its start are sent (0: the
    // whole file as it is now; never more than it holds).
    int fileDescriptor = -1;
    std::string filePath;
    std::uint64_t fileSize = 0;

    // A one-line text answer, e.g. text(404, "not found").
    static HttpResponse text(int status, std::string line);
};

// Runs on the server's thread: it must be quick and safe to call alongside any other thread.
using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

}  // namespace fm::platform
