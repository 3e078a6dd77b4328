// HttpPost's client on libcurl, built into the transports module only.
#include <curl/curl.h>

#include <algorithm>
#include <mutex>

#include "platform/httpclient/HttpPost.h"

namespace fm::platform {
namespace {

size_t keepStart(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const size_t n = size * count;
    if (body->size() < 2048) body->append(data, std::min(n, 2048 - body->size()));
    return n;
}

int checkStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* stop = static_cast<const std::atomic<bool>*>(user);
    return stop != nullptr && stop->load() ? 1 : 0;
}

class CurlPost final : public HttpPost::Client {
  public:
    CurlPost() : curl_(curl_easy_init()) {}
    ~CurlPost() override { curl_easy_cleanup(curl_); }
    bool ready() const { return curl_ != nullptr; }

    HttpPostResult post(const std::string& url, const std::vector<std::string>& headers,
                        const std::string& body, int timeoutSeconds,
                        const std::atomic<bool>* stop) override;

  private:
    CURL* curl_;
};

HttpPostResult CurlPost::post(const std::string& url, const std::vector<std::string>& headers,
                              const std::string& body, int timeoutSeconds,
                              const std::atomic<bool>* stop) {
    HttpPostResult result;
    CURL* curl = curl_;
    curl_slist* list = nullptr;
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    list = curl_slist_append(list, "Expect:");  // no 100-continue round trip for large batches
    char errorText[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(std::min(timeoutSeconds, 10)));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepStart);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkStop);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(stop));
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    if (rc != CURLE_OK) {
        result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
        return result;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    return result;
}

}  // namespace

}  // namespace fm::platform

fm::platform::HttpPost::Client* fmMakeHttpPostClient(std::string* error) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    auto client = std::make_unique<fm::platform::CurlPost>();
    if (!client->ready()) {
        if (error) *error = "libcurl could not start";
        return nullptr;
    }
    return client.release();
}
