#pragma once
// HTTP(S) POST for one sender thread: the connection is kept between posts, every wait is
// bounded by timeouts, and a stop flag aborts a post within about a second. Certificates: the
// system's. The client (libcurl) lives in the transports module, loaded by the first HttpPost;
// when it cannot be loaded every post fails with why. Qt-free.
#include <atomic>
#include <memory>
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

    // What the module gives: one connection's worth of posting.
    class Client {
      public:
        virtual ~Client() = default;
        virtual HttpPostResult post(const std::string& url, const std::vector<std::string>& headers,
                                    const std::string& body, int timeoutSeconds,
                                    const std::atomic<bool>* stop) = 0;
    };

  private:
    std::unique_ptr<Client> client_;
    std::string error_;  // why there is no client
};

// The name that HttpPost looks up in the module.
inline constexpr const char* kMakeHttpPostClient = "fmMakeHttpPostClient";

}  // namespace fm::platform

// The transports module's entry point: a new client, or null with why.
extern "C" __attribute__((visibility("default"))) fm::platform::HttpPost::Client*
fmMakeHttpPostClient(std::string* error);
