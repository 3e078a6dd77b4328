#include "platform/httpclient/HttpPost.h"

#include "platform/transports/TransportsModule.h"

namespace fm::platform {

HttpPost::HttpPost() {
    const auto make = reinterpret_cast<decltype(&fmMakeHttpPostClient)>(
        transportsFunction(kMakeHttpPostClient, &error_));
    if (make != nullptr) client_.reset(make(&error_));
    if (client_ == nullptr) error_ = "no HTTP client: " + error_;
}

HttpPost::~HttpPost() = default;

HttpPostResult HttpPost::post(const std::string& url, const std::vector<std::string>& headers,
                              const std::string& body, int timeoutSeconds,
                              const std::atomic<bool>* stop) {
    if (client_ == nullptr) {
        HttpPostResult result;
        result.error = error_;
        return result;
    }
    return client_->post(url, headers, body, timeoutSeconds, stop);
}

}  // namespace fm::platform
