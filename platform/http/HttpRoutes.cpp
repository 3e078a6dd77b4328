#include "platform/http/HttpRoutes.h"

#include <algorithm>

namespace fm::platform {

HttpRoutes& HttpRoutes::exact(const std::string& path, HttpHandler handler) {
    exact_[path] = std::move(handler);
    return *this;
}

HttpRoutes& HttpRoutes::prefix(const std::string& prefix, HttpHandler handler) {
    prefixes_[prefix] = std::move(handler);
    return *this;
}

HttpRoutes& HttpRoutes::stream(const std::string& path) {
    if (std::find(streams_.begin(), streams_.end(), path) == streams_.end()) {
        streams_.push_back(path);
    }
    return *this;
}

std::optional<HttpRoutes::Match> HttpRoutes::find(const std::string& path) const {
    if (std::find(streams_.begin(), streams_.end(), path) != streams_.end()) {
        return Match{nullptr, "", path};
    }
    if (const auto it = exact_.find(path); it != exact_.end()) {
        return Match{&it->second, "", ""};
    }
    const std::map<std::string, HttpHandler>::value_type* best = nullptr;
    for (const auto& entry : prefixes_) {
        if (path.starts_with(entry.first) &&
            (best == nullptr || entry.first.size() > best->first.size())) {
            best = &entry;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return Match{&best->second, path.substr(best->first.size()), ""};
}

}  // namespace fm::platform
