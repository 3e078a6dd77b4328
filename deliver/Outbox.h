#pragma once
// Messages waiting to leave the machine, kept on disk: a folder of append-only segment files
// ("NNNNNNNNNNNNNNNNNNNN.seg", named by the index of their first message) and a cursor file
// holding the index of the first message not yet acknowledged by the receiver. Any thread
// appends (one small write, never a wait on the network); one sender thread reads from the
// cursor onwards and acknowledges. Within its byte budget nothing is lost: when full, the oldest
// messages go (counted, said once); a write error is said once and counted, and the caller goes
// on. A record torn by a kill mid-write is cut off when the folder is opened.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fm::deliver {

// Receives one line per state change; may be called from any thread.
using Say = std::function<void(const std::string&)>;

// A day of second-sized messages (about 2.5 kB each) is about 216 MB; 4,000 MB holds 18 days.
inline constexpr std::uint64_t kDefaultOutboxBudgetBytes = 4000ull * 1000 * 1000;

struct OutboxStatus {
    std::uint64_t backlog = 0;    // messages not yet acknowledged
    double oldestAgeSeconds = 0;  // age of the oldest of them, by its made-at time
    std::uint64_t dropped = 0;    // lost to the budget, a write error or a damaged file
    std::uint64_t delivered = 0;  // acknowledged since the outbox was opened
    bool diskProblem = false;     // the last append failed
};

class Outbox {
  public:
    struct Message {
        std::uint64_t index = 0;
        std::chrono::system_clock::time_point madeAt;
        std::string payload;
    };

    // Creates the folder when missing. `name` prefixes what is said ("MQTT outbox").
    static std::unique_ptr<Outbox> open(const std::string& folder, std::uint64_t budgetBytes,
                                        std::string name, Say say, std::string* error);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Any thread. False when the message could not be written (counted as dropped).
    bool append(std::string_view payload, std::chrono::system_clock::time_point madeAt);

    // Sender thread: the next messages after those already read (from the cursor after open or
    // rewind), at most maxCount and, beyond the first, maxBytes of payload.
    std::vector<Message> readNext(std::size_t maxCount, std::size_t maxBytes);
    // Sender thread: reading starts again at the cursor (the receiver lost what was
    // unacknowledged).
    void rewind();
    // Sender thread: every message before `end` was acknowledged. Persists the cursor now and
    // then (and on close) and removes segments it has passed.
    void acknowledge(std::uint64_t end);
    // Sender thread: writes the cursor file now, or only when its last write is older than
    // `notWithin`. A cursor written seldom costs a few messages sent twice after a kill
    // (at least once, as QoS 1 is), never one lost.
    void saveCursor(std::chrono::milliseconds notWithin = std::chrono::milliseconds(0));

    // Called after every append, outside the outbox's lock (the sender's wake-up).
    void setWakeUp(std::function<void()> wake);

    std::uint64_t cursor() const;
    std::uint64_t end() const;  // index the next appended message gets
    OutboxStatus status() const;
    const std::string& folder() const { return folder_; }

  private:
    struct Segment {
        std::uint64_t first = 0;  // index of its first message
        std::uint64_t bytes = 0;  // complete records written
        std::string path;
    };
    struct Position {
        std::uint64_t index = 0;
        std::uint64_t segmentFirst = 0;
        std::uint64_t offset = 0;
        bool known = false;
    };
    struct InFlight {
        std::uint64_t index;
        Position position;
        std::chrono::system_clock::time_point madeAt;
    };

    Outbox(std::string folder, std::uint64_t budget, std::string name, Say say);
    bool load(std::string* error);
    std::uint64_t scanTail(Segment& segment);
    bool startSegment();
    void dropOldestLocked();
    void removePassedLocked();
    void sayOnce(bool& flag, const std::string& line);
    void saySaid();
    struct SayAfter {
        Outbox* box;
        ~SayAfter() { box->saySaid(); }
    };
    bool seekLocked(Position& position);
    bool peekMadeAt(const Position& position, std::chrono::system_clock::time_point* madeAt);

    const std::string folder_;
    const std::uint64_t budget_;
    const std::uint64_t segmentLimit_;
    const std::string name_;
    const Say say_;

    mutable std::mutex mutex_;
    std::deque<Segment> segments_;
    std::uint64_t totalBytes_ = 0;
    std::uint64_t end_ = 0;
    std::uint64_t cursor_ = 0;
    int writeFd_ = -1;
    int lockFd_ = -1;
    std::uint64_t dropped_ = 0;
    std::uint64_t delivered_ = 0;
    bool diskProblem_ = false;
    bool saidFull_ = false;
    bool saidDamage_ = false;
    bool oldestKnown_ = false;
    std::chrono::system_clock::time_point oldest_;

    std::function<void()> wake_;
    std::vector<std::string> toSay_;

    // Where the sender reads, and the positions of what it has read but not had acknowledged.
    Position read_;
    std::uint64_t readGeneration_ = 0;  // moved by someone other than readNext
    Position cursorPosition_;
    std::deque<InFlight> inFlight_;
    // The sender thread's own.
    int readFd_ = -1;
    std::uint64_t readFdSegment_ = ~0ull;
    std::uint64_t savedCursor_ = ~0ull;
    std::chrono::steady_clock::time_point lastSave_;
};

}  // namespace fm::deliver
