#include "platform/http/HttpMessage.h"

#include <algorithm>
#include <cctype>

namespace fm::platform {

std::string HttpRequest::header(const std::string& name) const {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto it = headers.find(lower);
    return it == headers.end() ? std::string() : it->second;
}

HttpResponse HttpResponse::text(int status, std::string line) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(line) + "\n";
    return response;
}

}  // namespace fm::platform
