#include "deliver/Outbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fm::deliver {

// How often the cursor goes to disk while messages flow (and when the sender goes idle): a
// file written every second would cost a meter more than sending its second does.
constexpr std::chrono::milliseconds kCursorSaveInterval{5000};
namespace {

// A record: payload length, CRC-32 of what follows the CRC, made-at time (ns since the epoch),
// payload. Little-endian, as every machine this runs on.
constexpr std::size_t kHeader = 16;
constexpr std::uint32_t kMaxPayload = 64u << 20;

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

struct Header {
    std::uint32_t length = 0;
    std::uint32_t crc = 0;
    std::int64_t madeAtNs = 0;
};

Header decodeHeader(const char* bytes) {
    Header h;
    std::memcpy(&h.length, bytes, 4);
    std::memcpy(&h.crc, bytes + 4, 4);
    std::memcpy(&h.madeAtNs, bytes + 8, 8);
    return h;
}

bool preadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

std::chrono::system_clock::time_point fromNs(std::int64_t ns) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(ns)));
}

std::string segmentName(std::uint64_t first) {
    std::string digits = std::to_string(first);
    return std::string(20 - std::min<std::size_t>(20, digits.size()), '0') + digits + ".seg";
}

}  // namespace

Outbox::Outbox(std::string folder, std::uint64_t budget, std::string name, Say say)
    : folder_(std::move(folder)),
      budget_(std::max<std::uint64_t>(budget, 16 * 1024)),
      segmentLimit_(std::clamp<std::uint64_t>(budget_ / 8, 4096, 16u << 20)),
      name_(std::move(name)),
      say_(std::move(say)) {}

std::unique_ptr<Outbox> Outbox::open(const std::string& folder, std::uint64_t budgetBytes,
                                     std::string name, Say say, std::string* error) {
    std::unique_ptr<Outbox> box(new Outbox(folder, budgetBytes, std::move(name), std::move(say)));
    if (!box->load(error)) return nullptr;
    box->saySaid();
    return box;
}

Outbox::~Outbox() {
    if (lockFd_ >= 0) saveCursor();
    if (writeFd_ >= 0) ::close(writeFd_);
    if (readFd_ >= 0) ::close(readFd_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

bool Outbox::load(std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec || !fs::is_directory(folder_)) {
        if (error)
            *error = name_ + ": cannot make the folder " + folder_ + " (" + ec.message() + ")";
        return false;
    }
    if (::access(folder_.c_str(), W_OK) != 0) {
        if (error)
            *error = name_ + ": cannot write in " + folder_ + " (" + std::strerror(errno) + ")";
        return false;
    }
    // Two writers would number their messages alike: one process per folder.
    lockFd_ = ::open((folder_ + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (lockFd_ >= 0) ::close(lockFd_);
        lockFd_ = -1;
        if (error) *error = name_ + ": " + folder_ + " is in use by another process";
        return false;
    }
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.size() != 24 || file.substr(20) != ".seg" ||
            file.find_first_not_of("0123456789") != 20) {
            continue;
        }
        Segment s;
        s.first = std::stoull(file.substr(0, 20));
        s.path = entry.path().string();
        s.bytes = entry.file_size(ec);
        if (ec) s.bytes = 0;
        segments_.push_back(s);
    }
    std::sort(segments_.begin(), segments_.end(),
              [](const Segment& a, const Segment& b) { return a.first < b.first; });

    std::uint64_t storedCursor = 0;
    if (std::ifstream in(folder_ + "/cursor"); in) in >> storedCursor;
    if (segments_.empty()) {
        end_ = storedCursor;
    } else {
        end_ = segments_.back().first + scanTail(segments_.back());
    }
    for (const auto& s : segments_) totalBytes_ += s.bytes;
    const std::uint64_t first = segments_.empty() ? end_ : segments_.front().first;
    cursor_ = std::clamp(storedCursor, first, end_);
    savedCursor_ = storedCursor;
    while (totalBytes_ > budget_ && segments_.size() > 1) dropOldestLocked();
    removePassedLocked();

    cursorPosition_ = Position{cursor_, cursor_, 0, false};
    seekLocked(cursorPosition_);
    read_ = cursorPosition_;
    if (cursor_ < end_) oldestKnown_ = peekMadeAt(cursorPosition_, &oldest_);
    lastSave_ = std::chrono::steady_clock::now();
    return true;
}

// Counts the complete records of the last segment and cuts off a torn or damaged tail.
std::uint64_t Outbox::scanTail(Segment& segment) {
    std::ifstream in(segment.path, std::ios::binary);
    std::uint64_t count = 0, offset = 0;
    std::string payload;
    char header[kHeader];
    while (in.read(header, kHeader)) {
        const Header h = decodeHeader(header);
        if (h.length > kMaxPayload || offset + kHeader + h.length > segment.bytes) break;
        payload.resize(h.length);
        if (!in.read(payload.data(), h.length)) break;
        if (crc32(payload.data(), payload.size(), crc32(header + 8, 8)) != h.crc) break;
        offset += kHeader + h.length;
        ++count;
    }
    if (offset < segment.bytes) {
        if (::truncate(segment.path.c_str(), static_cast<off_t>(offset)) == 0) {
            sayOnce(saidDamage_, name_ + ": cut off an incomplete message at the end of " +
                                     segment.path + " (written while the program stopped)");
        }
        segment.bytes = offset;
    }
    return count;
}

// Finds where `position.index` starts by walking the headers of its segment.
bool Outbox::seekLocked(Position& position) {
    if (segments_.empty() || position.index >= end_) {
        const std::uint64_t first = segments_.empty() ? end_ : segments_.back().first;
        position = Position{end_, first, segments_.empty() ? 0 : segments_.back().bytes, true};
        return true;
    }
    auto it = std::upper_bound(segments_.begin(), segments_.end(), position.index,
                               [](std::uint64_t i, const Segment& s) { return i < s.first; });
    --it;
    const int fd = ::open(it->path.c_str(), O_RDONLY | O_CLOEXEC);
    std::uint64_t offset = 0;
    bool ok = fd >= 0;
    for (std::uint64_t i = it->first; ok && i < position.index; ++i) {
        char header[kHeader];
        ok = preadAll(fd, header, kHeader, offset);
        const Header h = decodeHeader(header);
        ok = ok && h.length <= it->bytes - std::min(it->bytes, offset + kHeader);
        offset += kHeader + h.length;
    }
    if (fd >= 0) ::close(fd);
    position.segmentFirst = it->first;
    position.offset = offset;
    position.known = ok;
    return ok;
}

bool Outbox::peekMadeAt(const Position& position, std::chrono::system_clock::time_point* madeAt) {
    std::string path;
    {
        auto it = std::find_if(segments_.begin(), segments_.end(),
                               [&](const Segment& s) { return s.first == position.segmentFirst; });
        if (it == segments_.end()) return false;
        path = it->path;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char header[kHeader];
    const bool ok = preadAll(fd, header, kHeader, position.offset);
    ::close(fd);
    if (ok) *madeAt = fromNs(decodeHeader(header).madeAtNs);
    return ok;
}

void Outbox::sayOnce(bool& flag, const std::string& line) {
    if (flag) return;
    flag = true;
    toSay_.push_back(line);
}

// What is said goes out after the lock is released: the listener may well ask for the status.
void Outbox::saySaid() {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(toSay_);
    }
    if (say_) {
        for (const auto& line : lines) say_(line);
    }
}

bool Outbox::startSegment() {
    if (writeFd_ >= 0) ::close(writeFd_);
    writeFd_ = -1;
    if (segments_.empty() || segments_.back().first != end_ || segments_.back().bytes > 0) {
        segments_.push_back(Segment{end_, 0, folder_ + "/" + segmentName(end_)});
    }
    writeFd_ =
        ::open(segments_.back().path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (writeFd_ < 0) {
        segments_.pop_back();
        return false;
    }
    return true;
}

bool Outbox::append(std::string_view payload, std::chrono::system_clock::time_point madeAt) {
    const std::int64_t ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(madeAt.time_since_epoch()).count();
    std::string record(kHeader + payload.size(), '\0');
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::memcpy(record.data(), &length, 4);
    std::memcpy(record.data() + 8, &ns, 8);
    std::memcpy(record.data() + kHeader, payload.data(), payload.size());
    const std::uint32_t crc = crc32(payload.data(), payload.size(), crc32(record.data() + 8, 8));
    std::memcpy(record.data() + 4, &crc, 4);

    std::function<void()> wake;
    SayAfter later{this};
    {
        std::lock_guard lock(mutex_);
        int err = payload.size() > kMaxPayload ? EMSGSIZE : 0;
        if (!err && (writeFd_ < 0 || segments_.back().bytes >= segmentLimit_) && !startSegment()) {
            err = errno;
        }
        std::size_t written = 0;
        while (!err && written < record.size()) {
            const ssize_t n = ::write(writeFd_, record.data() + written, record.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                err = n < 0 ? errno : ENOSPC;
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        if (err) {
            // A partial record would shift every later one: cut it off again.
            if (written > 0 && ::ftruncate(writeFd_, static_cast<off_t>(segments_.back().bytes))) {
                ::close(writeFd_);
                writeFd_ = -1;  // the next append starts a fresh segment
            }
            ++dropped_;
            if (!diskProblem_) {
                toSay_.push_back(name_ + ": cannot write in " + folder_ + " (" +
                                 std::strerror(err) + "); messages are being lost");
            }
            diskProblem_ = true;
            return false;
        }
        if (diskProblem_) toSay_.push_back(name_ + ": writing in " + folder_ + " again");
        diskProblem_ = false;
        segments_.back().bytes += record.size();
        totalBytes_ += record.size();
        if (cursor_ == end_) {
            oldest_ = madeAt;
            oldestKnown_ = true;
        }
        ++end_;
        while (totalBytes_ > budget_ && segments_.size() > 1) dropOldestLocked();
        wake = wake_;
    }
    if (wake) wake();
    return true;
}

void Outbox::setWakeUp(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void Outbox::dropOldestLocked() {
    const Segment oldest = segments_.front();
    const std::uint64_t next = segments_[1].first;
    ::unlink(oldest.path.c_str());
    totalBytes_ -= oldest.bytes;
    segments_.pop_front();
    if (cursor_ >= next) return;
    dropped_ += next - std::max(cursor_, oldest.first);
    sayOnce(saidFull_, name_ + ": the outbox in " + folder_ + " is full (" +
                           std::to_string(budget_ / 1000000) +
                           " MB); the oldest messages are being dropped");
    cursor_ = next;
    cursorPosition_ = Position{next, next, 0, true};
    while (!inFlight_.empty() && inFlight_.front().index < next) inFlight_.pop_front();
    if (read_.index < next) {
        read_ = cursorPosition_;
        ++readGeneration_;
    }
    oldestKnown_ = peekMadeAt(cursorPosition_, &oldest_);
}

void Outbox::removePassedLocked() {
    while (segments_.size() > 1 && segments_[1].first <= cursor_) {
        ::unlink(segments_.front().path.c_str());
        totalBytes_ -= segments_.front().bytes;
        segments_.pop_front();
    }
}

std::vector<Outbox::Message> Outbox::readNext(std::size_t maxCount, std::size_t maxBytes) {
    SayAfter later{this};
    std::vector<Message> out;
    std::size_t bytes = 0;
    for (int attempt = 0;
         attempt < 1000 && out.size() < maxCount && (out.empty() || bytes < maxBytes); ++attempt) {
        Position pos;
        std::uint64_t committed = 0, segmentEnd = 0, generation = 0;
        std::string path;
        {
            std::lock_guard lock(mutex_);
            if (!read_.known && !seekLocked(read_)) {
                // The headers before this message are damaged: go on with the next segment.
                auto it =
                    std::upper_bound(segments_.begin(), segments_.end(), read_.index,
                                     [](std::uint64_t i, const Segment& s) { return i < s.first; });
                const std::uint64_t next = it == segments_.end() ? end_ : it->first;
                dropped_ += next - read_.index;
                read_ = Position{next, next, 0, false};
                seekLocked(read_);
                continue;
            }
            if (read_.index >= end_) return out;
            auto it = std::find_if(segments_.begin(), segments_.end(),
                                   [&](const Segment& s) { return s.first == read_.segmentFirst; });
            if (it == segments_.end()) {
                read_.known = false;
                continue;
            }
            auto next = std::next(it);
            if (read_.offset >= it->bytes) {
                if (next == segments_.end()) return out;
                read_ = Position{next->first, next->first, 0, true};
                continue;
            }
            pos = read_;
            committed = it->bytes;
            segmentEnd = next == segments_.end() ? end_ : next->first;
            path = it->path;
            generation = readGeneration_;
        }
        if (readFdSegment_ != pos.segmentFirst) {
            if (readFd_ >= 0) ::close(readFd_);
            readFd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            readFdSegment_ = pos.segmentFirst;
        }
        std::vector<Position> positions;
        std::vector<Message> chunk;
        Position at = pos;
        std::size_t chunkBytes = 0;
        bool damaged = readFd_ < 0;
        while (!damaged && at.offset < committed && at.index < segmentEnd &&
               out.size() + chunk.size() < maxCount &&
               ((out.empty() && chunk.empty()) || bytes + chunkBytes < maxBytes)) {
            char header[kHeader] = {};
            Message m;
            damaged = !preadAll(readFd_, header, kHeader, at.offset);
            const Header hd = decodeHeader(header);
            if (!damaged &&
                (committed - at.offset < kHeader || hd.length > committed - at.offset - kHeader)) {
                damaged = true;
            }
            if (!damaged) {
                m.payload.resize(hd.length);
                damaged = !preadAll(readFd_, m.payload.data(), hd.length, at.offset + kHeader) ||
                          crc32(m.payload.data(), hd.length, crc32(header + 8, 8)) != hd.crc;
            }
            if (damaged) break;
            m.index = at.index;
            m.madeAt = fromNs(hd.madeAtNs);
            positions.push_back(at);
            chunkBytes += m.payload.size();
            chunk.push_back(std::move(m));
            at.offset += kHeader + hd.length;
            ++at.index;
        }
        std::lock_guard lock(mutex_);
        if (generation != readGeneration_) {
            out.clear();  // moved under our feet: what was read before is gone from in-flight too
            bytes = 0;
            continue;
        }
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            inFlight_.push_back(InFlight{chunk[i].index, positions[i], chunk[i].madeAt});
            out.push_back(std::move(chunk[i]));
        }
        bytes += chunkBytes;
        read_ = at;
        if (damaged && chunk.empty()) {
            // Skip what cannot be read in this segment; what follows it is still good.
            dropped_ += segmentEnd - at.index;
            sayOnce(saidDamage_, name_ + ": skipped damaged messages in " + path);
            read_ = segmentEnd == end_ ? Position{segmentEnd, pos.segmentFirst, committed, true}
                                       : Position{segmentEnd, segmentEnd, 0, true};
        }
    }
    return out;
}

void Outbox::rewind() {
    std::lock_guard lock(mutex_);
    read_ = cursorPosition_;
    inFlight_.clear();
    ++readGeneration_;
}

void Outbox::acknowledge(std::uint64_t end) {
    Position peek;
    bool needPeek = false;
    {
        std::lock_guard lock(mutex_);
        end = std::min(end, read_.index);
        if (end <= cursor_) return;
        delivered_ += end - cursor_;
        cursor_ = end;
        while (!inFlight_.empty() && inFlight_.front().index < end) inFlight_.pop_front();
        if (!inFlight_.empty()) {
            cursorPosition_ = inFlight_.front().position;
            oldest_ = inFlight_.front().madeAt;
            oldestKnown_ = true;
        } else {
            cursorPosition_ = read_;
            oldestKnown_ = false;
            needPeek = cursor_ < end_;
            peek = cursorPosition_;
            if (!needPeek) saidFull_ = false;
        }
        removePassedLocked();
    }
    if (needPeek) {
        std::chrono::system_clock::time_point madeAt;
        std::lock_guard lock(mutex_);
        if (cursor_ == peek.index && peekMadeAt(peek, &madeAt)) {
            oldest_ = madeAt;
            oldestKnown_ = true;
        }
    }
    saveCursor(kCursorSaveInterval);
}

void Outbox::saveCursor(std::chrono::milliseconds notWithin) {
    std::uint64_t cursor;
    {
        std::lock_guard lock(mutex_);
        cursor = cursor_;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSave_ < notWithin) return;
    lastSave_ = now;
    if (cursor == savedCursor_) return;
    const std::string tmp = folder_ + "/cursor.tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << cursor << '\n';
        if (!out.flush()) return;
    }
    if (std::rename(tmp.c_str(), (folder_ + "/cursor").c_str()) == 0) savedCursor_ = cursor;
}

std::uint64_t Outbox::cursor() const {
    std::lock_guard lock(mutex_);
    return cursor_;
}

std::uint64_t Outbox::end() const {
    std::lock_guard lock(mutex_);
    return end_;
}

OutboxStatus Outbox::status() const {
    std::lock_guard lock(mutex_);
    OutboxStatus s;
    s.backlog = end_ - cursor_;
    s.dropped = dropped_;
    s.delivered = delivered_;
    s.diskProblem = diskProblem_;
    if (s.backlog > 0 && oldestKnown_) {
        s.oldestAgeSeconds = std::max(
            0.0, std::chrono::duration<double>(std::chrono::system_clock::now() - oldest_).count());
    }
    return s;
}

}  // namespace fm::deliver
