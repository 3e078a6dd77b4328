#pragma once
// The open connections, in all and from each client address, against their limits, and which of
// them are still sending a request's headers. When a limit is reached, a new connection takes the
// place of the oldest one still unfinished (of the same address, for the per-address limit): a
// complete request is never kept waiting by a crowd that never finishes one. Only when no
// connection can give way is the new one refused. A request's headers must also be complete
// within a deadline from the connection (or, on a kept-alive connection, from its request line).
//
// A connection that gives way is shut down here, under the lock that release() takes: the
// library calls release() before it closes the socket, so a descriptor is never touched once
// its number may have been handed out again. Any thread. Qt-free.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace fm::platform {

class ConnectionLimits {
  public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;  // 0: none

    ConnectionLimits(unsigned total, unsigned perAddress, Clock::duration headerDeadline)
        : total_(total), perAddress_(perAddress), headerDeadline_(headerDeadline) {}

    // Counts a new connection on socket `fd` from the address, shutting down the connection that
    // gives way for it, if one must. 0 (and not counted) when it is refused.
    Id admit(int fd, const std::string& address, Clock::time_point now);
    // A further request's line has come on a connection that was between requests.
    void requestStarted(Id id, Clock::time_point now);
    // The request's headers are complete: the connection no longer gives way.
    void headersComplete(Id id);
    // The request has been answered: the connection waits for another, under the idle timeout.
    void requestEnded(Id id);
    // The connection has closed (or gave way before). Must come before its socket is closed.
    void release(Id id);

    // Shuts down every connection whose headers are overdue; when the next one may fall due.
    Clock::time_point closeOverdue(Clock::time_point now);
    // How many connections are counted now.
    unsigned open() const;

  private:
    enum class State { Unfinished, Busy, Idle };
    struct Entry {
        int fd;
        std::string address;
        State state;
        Clock::time_point since;  // when its headers began to come
    };
    // The oldest unfinished connection (of `address` when not null), or end().
    std::map<Id, Entry>::iterator oldestUnfinished(const std::string* address);
    void shutDown(std::map<Id, Entry>::iterator it);

    const unsigned total_;
    const unsigned perAddress_;
    const Clock::duration headerDeadline_;
    mutable std::mutex mutex_;
    Id lastId_ = 0;
    std::map<Id, Entry> entries_;  // by id: in the order they came
    std::map<std::string, unsigned> byAddress_;
};

}  // namespace fm::platform
