#pragma once
// The paths a server answers, set up before it starts: exact paths, prefixes whose handler gets
// the rest of the path, and event streams. Nothing else exists: the server never maps a URL to
// a file by itself. Qt-free.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/HttpMessage.h"

namespace fm::platform {

class HttpRoutes {
  public:
    // "/metrics" answers that path only.
    HttpRoutes& exact(const std::string& path, HttpHandler handler);
    // "/files/" answers "/files/a.csv" with the remainder "a.csv" (and "/files/" with "").
    HttpRoutes& prefix(const std::string& prefix, HttpHandler handler);
    // A Server-Sent Events stream at this path, fed by HttpServer::publish.
    HttpRoutes& stream(const std::string& path);

    struct Match {
        const HttpHandler* handler = nullptr;  // null for a stream
        std::string remainder;
        std::string stream;  // the stream's path
    };
    // An exact path or stream first, else the longest prefix; nothing when no route has it.
    std::optional<Match> find(const std::string& path) const;
    std::vector<std::string> streams() const { return streams_; }

  private:
    std::map<std::string, HttpHandler> exact_;
    std::map<std::string, HttpHandler> prefixes_;
    std::vector<std::string> streams_;
};

}  // namespace fm::platform
