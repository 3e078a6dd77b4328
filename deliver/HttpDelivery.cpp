#include "deliver/HttpDelivery.h"

#include <algorithm>
#include <fstream>
#include <mutex>

#include "deliver/Backoff.h"
#include "deliver/Secret.h"
#include "deliver/Worker.h"
#include "platform/httpclient/HttpPost.h"

namespace fm::deliver {
namespace {

struct Setup {
    std::string name;  // "line protocol", "webhook"
    std::string url;
    std::vector<std::string> headers;
    std::size_t maxCount = 1;
    std::size_t maxBytes = 1u << 20;
    bool joinLines = false;
    int timeoutSeconds = 30;
};

// What is said names the server, never the query (it may carry credentials).
std::string shown(const std::string& url) {
    return url.substr(0, url.find('?'));
}

bool httpUrl(const std::string& option, const std::string& url, std::string* error) {
    const bool ok = (url.starts_with("http://") && url.size() > 7) ||
                    (url.starts_with("https://") && url.size() > 8);
    if (!ok && error) *error = option + ": \"" + url + "\" is not an http:// or https:// URL";
    return ok;
}

bool retryable(long status) {
    return status == 401 || status == 403 || status == 404 || status == 408 || status == 413 ||
           status == 429 || status >= 500 || status < 400;
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() > 200) line.resize(200);
    return line;
}

}  // namespace

class HttpDelivery {
  public:
    static std::unique_ptr<HttpDelivery> start(Setup setup, const std::string& folder,
                                               std::uint64_t budget, const std::string& outboxName,
                                               Say say, std::string* error) {
        auto impl = std::make_shared<Impl>();
        impl->setup = std::move(setup);
        impl->say = say;
        impl->outbox = Outbox::open(folder, budget, outboxName, say, error);
        if (!impl->outbox) return nullptr;
        Worker* worker = &impl->worker;
        impl->outbox->setWakeUp([worker] { worker->wake(); });
        impl->worker.start([impl] { impl->run(); });
        return std::unique_ptr<HttpDelivery>(new HttpDelivery(impl));
    }
    ~HttpDelivery() { impl_->worker.stop(std::chrono::seconds(5)); }

    bool enqueue(std::string_view payload, std::chrono::system_clock::time_point madeAt) {
        return impl_->outbox->append(payload, madeAt);
    }
    HttpDeliveryStatus status() const {
        HttpDeliveryStatus s;
        {
            std::lock_guard lock(impl_->mutex);
            s = impl_->status;
        }
        s.outbox = impl_->outbox->status();
        return s;
    }

  private:
    struct Impl {
        Setup setup;
        Say say;
        std::unique_ptr<Outbox> outbox;
        Worker worker;
        mutable std::mutex mutex;
        HttpDeliveryStatus status;

        void tell(const std::string& line) {
            if (say) say(line);
        }
        void run();
    };
    explicit HttpDelivery(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<Impl> impl_;
};

void HttpDelivery::Impl::run() {
    platform::HttpPost http;
    Backoff backoff(std::chrono::seconds(1), std::chrono::seconds(30));
    std::size_t maxCount = setup.maxCount;
    std::string saidFailure;
    bool saidRejected = false;
    const std::string where = shown(setup.url);
    while (!worker.stopping()) {
        auto batch = outbox->readNext(maxCount, setup.maxBytes);
        if (batch.empty()) {
            outbox->saveCursor(std::chrono::seconds(5));
            worker.sleep(std::chrono::minutes(1));
            continue;
        }
        std::string body;
        if (setup.joinLines) {
            for (const auto& m : batch) (body += m.payload) += '\n';
        } else {
            body = std::move(batch.front().payload);
        }
        const auto r =
            http.post(setup.url, setup.headers, body, setup.timeoutSeconds, worker.stopFlag());
        if (worker.stopping()) break;
        const std::uint64_t next = batch.back().index + 1;
        if (r.status >= 200 && r.status < 300) {
            outbox->acknowledge(next);
            backoff.reset();
            maxCount = std::min(setup.maxCount, maxCount * 2);
            {
                std::lock_guard lock(mutex);
                status.sent += batch.size();
                status.reachable = true;
                status.lastError.clear();
            }
            if (!saidFailure.empty()) {
                tell(setup.name + ": delivering to " + where + " again");
                saidFailure.clear();
            }
            continue;
        }
        if (r.status == 413 && batch.size() > 1) {
            maxCount = std::max<std::size_t>(1, batch.size() / 2);
            outbox->rewind();
            continue;
        }
        if (!retryable(r.status) || (r.status == 413 && batch.size() == 1)) {
            outbox->acknowledge(next);
            {
                std::lock_guard lock(mutex);
                status.rejected += batch.size();
            }
            if (!saidRejected) {
                tell(setup.name + ": " + where + " refused messages as malformed (HTTP " +
                     std::to_string(r.status) + ": " + firstLine(r.body) +
                     "); they are skipped and counted");
                saidRejected = true;
            }
            continue;
        }
        const std::string error =
            r.status != 0 ? "HTTP " + std::to_string(r.status) + " " + firstLine(r.body) : r.error;
        {
            std::lock_guard lock(mutex);
            status.reachable = false;
            status.lastError = error;
        }
        // Said when it changes, not on every retry.
        if (error != saidFailure) {
            tell(setup.name + ": cannot deliver to " + where + ": " + error +
                 "; retrying, messages wait in " + outbox->folder());
            saidFailure = error;
        }
        outbox->rewind();
        worker.sleepUntil(std::chrono::steady_clock::now() + backoff.next());
    }
    outbox->saveCursor();
}

std::unique_ptr<LineProtocolDelivery> LineProtocolDelivery::start(
    const LineProtocolOptions& options, const std::string& outboxFolder, std::uint64_t budgetBytes,
    Say say, std::string* error) {
    if (!httpUrl("--influx", options.url, error)) return nullptr;
    if (shown(options.url).find("write") == std::string::npos) {
        if (error) {
            *error = "--influx: \"" + options.url +
                     "\" names no write endpoint (.../write?db=NAME, or "
                     ".../api/v2/write?org=ORG&bucket=BUCKET)";
        }
        return nullptr;
    }
    Setup setup;
    setup.name = "line protocol";
    setup.url = options.url;
    // The points carry nanoseconds; say so to servers whose default differs.
    if (setup.url.find("precision=") == std::string::npos) {
        setup.url += setup.url.find('?') == std::string::npos ? "?precision=ns" : "&precision=ns";
    }
    setup.headers.push_back("Content-Type: text/plain; charset=utf-8");
    if (!options.tokenFile.empty()) {
        std::string token, why;
        if (!readSecretFile(options.tokenFile, &token, &why)) {
            if (error) *error = "--influx-token-file: " + why;
            return nullptr;
        }
        setup.headers.push_back("Authorization: Token " + token);
    }
    setup.maxCount = 5000;
    setup.maxBytes = 1u << 20;
    setup.joinLines = true;
    auto http = HttpDelivery::start(std::move(setup), outboxFolder, budgetBytes,
                                    "line protocol outbox", say, error);
    if (!http) return nullptr;
    return std::unique_ptr<LineProtocolDelivery>(new LineProtocolDelivery(std::move(http)));
}

LineProtocolDelivery::LineProtocolDelivery(std::unique_ptr<HttpDelivery> http)
    : http_(std::move(http)) {}
LineProtocolDelivery::~LineProtocolDelivery() = default;

bool LineProtocolDelivery::enqueue(std::string_view line,
                                   std::chrono::system_clock::time_point madeAt) {
    if (line.empty() || line.find('\n') != std::string_view::npos) return false;
    return http_->enqueue(line, madeAt);
}

HttpDeliveryStatus LineProtocolDelivery::status() const {
    return http_->status();
}

std::unique_ptr<WebhookDelivery> WebhookDelivery::start(const WebhookOptions& options,
                                                        const std::string& outboxFolder,
                                                        std::uint64_t budgetBytes, Say say,
                                                        std::string* error) {
    if (!httpUrl(options.urlOption, options.url, error)) return nullptr;
    Setup setup;
    setup.name = "webhook";
    setup.url = options.url;
    setup.timeoutSeconds = 15;
    bool contentType = false;
    if (!options.headerFile.empty()) {
        std::ifstream in(options.headerFile);
        if (!in) {
            if (error) *error = options.headerFileOption + ": cannot read " + options.headerFile;
            return nullptr;
        }
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (line.empty() || line.front() == '#') continue;
            const auto colon = line.find(':');
            if (colon == 0 || colon == std::string::npos || line.find_first_of(" \t") < colon) {
                if (error) {
                    *error = options.headerFileOption + ": " + options.headerFile + " line " +
                             std::to_string(number) + " is not \"Name: value\"";
                }
                return nullptr;
            }
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(), ::tolower);
            contentType = contentType || name == "content-type";
            setup.headers.push_back(line);
        }
    }
    if (!contentType) setup.headers.push_back("Content-Type: application/json");
    auto http = HttpDelivery::start(std::move(setup), outboxFolder, budgetBytes, "webhook outbox",
                                    say, error);
    if (!http) return nullptr;
    return std::unique_ptr<WebhookDelivery>(new WebhookDelivery(std::move(http)));
}

WebhookDelivery::WebhookDelivery(std::unique_ptr<HttpDelivery> http) : http_(std::move(http)) {}
WebhookDelivery::~WebhookDelivery() = default;

bool WebhookDelivery::enqueue(std::string_view json, std::chrono::system_clock::time_point madeAt) {
    return http_->enqueue(json, madeAt);
}

HttpDeliveryStatus WebhookDelivery::status() const {
    return http_->status();
}

}  // namespace fm::deliver
