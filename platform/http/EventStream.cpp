#include "platform/http/EventStream.h"

#include <algorithm>
#include <cstring>

namespace fm::platform {

std::string formatServerSentEvent(std::string_view data, std::string_view eventName) {
    std::string wire;
    wire.reserve(data.size() + eventName.size() + 16);
    if (!eventName.empty()) {
        // A line break in the name would end the field early and start a forged one.
        std::string name(eventName);
        std::replace_if(
            name.begin(), name.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        wire += "event: " + name + "\n";
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = data.find_first_of("\r\n", start);
        wire += "data: ";
        wire += data.substr(start, end == std::string_view::npos ? end : end - start);
        wire += '\n';
        if (end == std::string_view::npos) {
            break;
        }
        start = end + (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n' ? 2 : 1);
    }
    wire += '\n';
    return wire;
}

EventStream::EventStream(std::size_t backlog)
    : backlog_(std::max<std::size_t>(backlog, 1)),
      keepAliveComment_(std::make_shared<const std::string>(": keep-alive\n\n")) {}

void EventStream::publish(std::string_view data, std::string_view eventName) {
    auto wire = std::make_shared<const std::string>(formatServerSentEvent(data, eventName));
    std::shared_ptr<const std::string> dropped;  // freed after the lock is let go
    std::lock_guard lock(mutex_);
    events_.push_back({nextSequence_++, std::move(wire)});
    if (events_.size() > backlog_) {
        dropped = std::move(events_.front().wire);
        events_.pop_front();
    }
    wakeParkedLocked();
}

void EventStream::keepAlive() {
    std::lock_guard lock(mutex_);
    for (Reader* reader : parked_) {
        reader->keepAliveDue_ = true;
    }
    wakeParkedLocked();
}

void EventStream::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    wakeParkedLocked();
}

void EventStream::wakeParkedLocked() {
    for (Reader* reader : parked_) {
        reader->parked_ = false;
        reader->resume_();
    }
    parked_.clear();
}

std::unique_ptr<EventStream::Reader> EventStream::subscribe(std::function<void()> suspend,
                                                            std::function<void()> resume) {
    std::unique_ptr<Reader> reader(new Reader(this, std::move(suspend), std::move(resume)));
    readers_.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    reader->next_ = events_.empty() ? nextSequence_ : events_.back().sequence;
    return reader;
}

EventStream::Reader::Reader(EventStream* stream, std::function<void()> suspend,
                            std::function<void()> resume)
    : stream_(stream), suspend_(std::move(suspend)), resume_(std::move(resume)) {}

EventStream::Reader::~Reader() {
    stream_->readers_.fetch_sub(1, std::memory_order_relaxed);
    std::lock_guard lock(stream_->mutex_);
    if (parked_) {
        std::erase(stream_->parked_, this);
    }
}

long EventStream::Reader::read(char* buf, std::size_t max) {
    std::lock_guard lock(stream_->mutex_);
    std::size_t n = 0;
    while (n < max) {
        if (!sending_ || offset_ == sending_->size()) {
            sending_.reset();
            const auto& events = stream_->events_;
            if (stream_->closed_) {
                if (n == 0) {
                    return -1;
                }
                break;
            }
            if (!events.empty() && next_ <= events.back().sequence) {
                if (next_ < events.front().sequence) {
                    next_ = events.back().sequence;  // fallen behind: the newest replaces the rest
                }
                const Event& event = events[next_ - events.front().sequence];
                sending_ = event.wire;
                next_ = event.sequence + 1;
                keepAliveDue_ = false;
            } else if (keepAliveDue_) {
                sending_ = stream_->keepAliveComment_;
                keepAliveDue_ = false;
            } else {
                break;
            }
            offset_ = 0;
        }
        const std::size_t count = std::min(max - n, sending_->size() - offset_);
        std::memcpy(buf + n, sending_->data() + offset_, count);
        offset_ += count;
        n += count;
    }
    if (n == 0) {
        parked_ = true;
        stream_->parked_.push_back(this);
        suspend_();
    }
    return static_cast<long>(n);
}

}  // namespace fm::platform
