#pragma once
// One Server-Sent Events stream: the latest events published to it and the readers (open
// connections) that follow it. A publisher never waits for a reader: the stream keeps only the
// last `backlog` events, and a reader that falls further behind skips to the newest. A reader
// with nothing to send is suspended and resumed by the next event. Qt-free.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fm::platform {

// The wire form of one event: an optional "event: NAME" line, one "data: " line for each line of
// the data (CR, LF or CRLF end a line), and a blank line.
std::string formatServerSentEvent(std::string_view data, std::string_view eventName = {});

class EventStream {
  public:
    explicit EventStream(std::size_t backlog = 32);
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // Any thread; never waits for a reader.
    void publish(std::string_view data, std::string_view eventName = {});
    // Wakes the idle readers to send a comment line, so that proxies keep their connections.
    void keepAlive();
    // Every reader ends after the event it is sending; later readers end at once.
    void close();
    // Any thread: the readers following the stream now.
    std::size_t readers() const { return readers_.load(std::memory_order_relaxed); }

    class Reader {
      public:
        ~Reader();
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;
        // Copies the next bytes to send into buf: their count; 0 when there is nothing to send,
        // after calling `suspend` (`resume` follows when there is); -1 when the stream closed.
        long read(char* buf, std::size_t max);

      private:
        friend class EventStream;
        Reader(EventStream* stream, std::function<void()> suspend, std::function<void()> resume);

        EventStream* stream_;
        std::function<void()> suspend_;
        std::function<void()> resume_;
        std::uint64_t next_ = 0;  // the sequence number of the next event to send
        std::shared_ptr<const std::string> sending_;
        std::size_t offset_ = 0;
        bool parked_ = false;
        bool keepAliveDue_ = false;
    };
    // A reader that starts with the latest event, if any. `suspend` and `resume` are called
    // with the stream's lock held, so a resume never overtakes its suspend.
    std::unique_ptr<Reader> subscribe(std::function<void()> suspend, std::function<void()> resume);

  private:
    struct Event {
        std::uint64_t sequence;
        std::shared_ptr<const std::string> wire;
    };
    void wakeParkedLocked();

    const std::size_t backlog_;
    const std::shared_ptr<const std::string> keepAliveComment_;
    std::mutex mutex_;
    std::deque<Event> events_;
    std::uint64_t nextSequence_ = 1;
    std::vector<Reader*> parked_;
    std::atomic<std::size_t> readers_{0};
    bool closed_ = false;
};

}  // namespace fm::platform
