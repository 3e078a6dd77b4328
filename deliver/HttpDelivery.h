#pragma once
// Messages POSTed over HTTP(S) through an outbox on disk, by a thread of the delivery's own: the
// line protocol to a time-series store (batches of points) and JSON to a webhook (one message a
// POST, in order). A 2xx moves the cursor past what was sent. No answer, a 5xx, or one of 401,
// 403, 404, 408, 413 and 429: the same messages again after a backoff (a 413 halves the batch
// first). Any other 4xx means the messages themselves are bad: said once, counted, skipped.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "deliver/Outbox.h"

namespace fm::deliver {

struct HttpDeliveryStatus {
    bool reachable = false;      // the last POST was answered with a 2xx
    std::uint64_t sent = 0;      // messages acknowledged since start
    std::uint64_t rejected = 0;  // messages skipped as malformed
    OutboxStatus outbox;
    std::string lastError;  // empty while all is well
};

class HttpDelivery;

struct LineProtocolOptions {
    // http(s)://HOST:PORT/write?db=... (InfluxDB 1.x, VictoriaMetrics) or
    // .../api/v2/write?org=...&bucket=... (InfluxDB 2, with tokenFile)
    std::string url;
    std::string tokenFile;  // sent as "Authorization: Token ..."
};

class LineProtocolDelivery {
  public:
    // Null, with the error naming the option (--influx, --influx-token-file), when the options
    // are bad or the outbox cannot be opened.
    static std::unique_ptr<LineProtocolDelivery> start(const LineProtocolOptions& options,
                                                       const std::string& outboxFolder,
                                                       std::uint64_t budgetBytes, Say say,
                                                       std::string* error);
    ~LineProtocolDelivery();
    // Any thread: one point (see lineProtocolPoint), with its timestamp inside.
    bool enqueue(std::string_view line, std::chrono::system_clock::time_point madeAt);
    HttpDeliveryStatus status() const;

  private:
    explicit LineProtocolDelivery(std::unique_ptr<HttpDelivery> http);
    std::unique_ptr<HttpDelivery> http_;
};

struct WebhookOptions {
    std::string url;         // http(s)://...
    std::string headerFile;  // "Name: value" lines ("Authorization: Bearer ..."); # comments
    std::string urlOption = "--alert-webhook";
    std::string headerFileOption = "--alert-webhook-header-file";
};

class WebhookDelivery {
  public:
    static std::unique_ptr<WebhookDelivery> start(const WebhookOptions& options,
                                                  const std::string& outboxFolder,
                                                  std::uint64_t budgetBytes, Say say,
                                                  std::string* error);
    ~WebhookDelivery();
    // Any thread: one JSON document, POSTed as application/json.
    bool enqueue(std::string_view json, std::chrono::system_clock::time_point madeAt);
    HttpDeliveryStatus status() const;

  private:
    explicit WebhookDelivery(std::unique_ptr<HttpDelivery> http);
    std::unique_ptr<HttpDelivery> http_;
};

}  // namespace fm::deliver
