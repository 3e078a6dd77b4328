#pragma once
// HTTP(S) POST through libcurl, for one sender thread: the connection is kept between posts,
// every wait is bounded by timeouts, and a stop flag aborts a post within about a second.
// Certificates: the system's. Qt-free.
#include <atomic>
#include <string>
#include <vector>

namespace fm::platform {

struct HttpPostResult {
    long status = 0;    // the HTTP status; 0 when no answer came
    std::string error;  // why no answer came
    std::string body;   // the start of the answer's body (for the reason of a refusal)
};

class HttpPost {
  public:
    HttpPost();
    ~HttpPost();
    HttpPost(const HttpPost&) = delete;
    HttpPost& operator=(const HttpPost&) = delete;

    // headers: whole lines ("Authorization: Token ..."). stop: checked while waiting.
    HttpPostResult post(const std::string& url, const std::vector<std::string>& headers,
                        const std::string& body, int timeoutSeconds, const std::atomic<bool>* stop);

  private:
    void* curl_ = nullptr;
};

}  // namespace fm::platform
