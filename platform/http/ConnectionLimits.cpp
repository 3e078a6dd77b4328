#include "platform/http/ConnectionLimits.h"

#include <sys/socket.h>

namespace fm::platform {

ConnectionLimits::Id ConnectionLimits::admit(int fd, const std::string& address,
                                             Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto counted = byAddress_.find(address);
    if (counted != byAddress_.end() && counted->second >= perAddress_) {
        const auto victim = oldestUnfinished(&address);
        if (victim == entries_.end()) {
            return 0;
        }
        shutDown(victim);
    } else if (entries_.size() >= total_) {
        const auto victim = oldestUnfinished(nullptr);
        if (victim == entries_.end()) {
            return 0;
        }
        shutDown(victim);
    }
    const Id id = ++lastId_;
    entries_.emplace(id, Entry{fd, address, State::Unfinished, now});
    ++byAddress_[address];
    return id;
}

void ConnectionLimits::requestStarted(Id id, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (const auto it = entries_.find(id);
        it != entries_.end() && it->second.state == State::Idle) {
        it->second.state = State::Unfinished;
        it->second.since = now;
    }
}

void ConnectionLimits::headersComplete(Id id) {
    std::lock_guard lock(mutex_);
    if (const auto it = entries_.find(id); it != entries_.end()) {
        it->second.state = State::Busy;
    }
}

void ConnectionLimits::requestEnded(Id id) {
    std::lock_guard lock(mutex_);
    if (const auto it = entries_.find(id); it != entries_.end()) {
        it->second.state = State::Idle;
    }
}

void ConnectionLimits::release(Id id) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(id);
    if (it == entries_.end()) {
        return;  // it gave way before, and is no longer counted
    }
    if (--byAddress_[it->second.address] == 0) {
        byAddress_.erase(it->second.address);
    }
    entries_.erase(it);
}

ConnectionLimits::Clock::time_point ConnectionLimits::closeOverdue(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    // A connection that comes after now falls due no sooner than this.
    Clock::time_point next = now + headerDeadline_;
    for (auto it = entries_.begin(); it != entries_.end();) {
        const auto current = it++;
        if (current->second.state != State::Unfinished) {
            continue;
        }
        const Clock::time_point due = current->second.since + headerDeadline_;
        if (due <= now) {
            shutDown(current);
        } else if (due < next) {
            next = due;
        }
    }
    return next;
}

unsigned ConnectionLimits::open() const {
    std::lock_guard lock(mutex_);
    return static_cast<unsigned>(entries_.size());
}

std::map<ConnectionLimits::Id, ConnectionLimits::Entry>::iterator
ConnectionLimits::oldestUnfinished(const std::string* address) {
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        const Entry& e = it->second;
        if (e.state == State::Unfinished && (address == nullptr || e.address == *address) &&
            (oldest == entries_.end() || e.since < oldest->second.since)) {
            oldest = it;
        }
    }
    return oldest;
}

void ConnectionLimits::shutDown(std::map<Id, Entry>::iterator it) {
    // The library sees the end of the stream and closes the connection on its own thread; from
    // now on it is no longer counted, and release() will not find it.
    ::shutdown(it->second.fd, SHUT_RDWR);
    if (--byAddress_[it->second.address] == 0) {
        byAddress_.erase(it->second.address);
    }
    entries_.erase(it);
}

}  // namespace fm::platform
