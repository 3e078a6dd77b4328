#include "platform/audiofile/RecordingAsWav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fm::platform {

// libsndfile reads the recording through these, so that the CAF data chunk's size can be
// corrected without copying the file.
struct RecordingWavIo {
    static sf_count_t length(void* user) {
        return static_cast<RecordingWav*>(user)->sourceLength();
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        auto* r = static_cast<RecordingWav*>(user);
        const sf_count_t base = whence == SEEK_CUR   ? r->sourcePosition_
                                : whence == SEEK_END ? r->sourceLength()
                                                     : 0;
        r->sourcePosition_ = std::max<sf_count_t>(0, base + offset);
        return r->sourcePosition_;
    }
    static sf_count_t read(void* out, sf_count_t count, void* user) {
        auto* r = static_cast<RecordingWav*>(user);
        const sf_count_t n = r->readSource(out, count, r->sourcePosition_);
        if (n > 0) {
            r->sourcePosition_ += n;
        }
        return std::max<sf_count_t>(n, 0);
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* user) { return static_cast<RecordingWav*>(user)->sourcePosition_; }
};

namespace {

SF_VIRTUAL_IO recordingIo{RecordingWavIo::length, RecordingWavIo::seek, RecordingWavIo::read,
                          RecordingWavIo::write, RecordingWavIo::tell};

constexpr std::size_t kChunkFrames = 16384;

std::uint64_t bigEndian64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = v << 8 | p[i];
    }
    return v;
}

void littleEndian(unsigned char* p, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

bool preadAll(int fd, unsigned char* out, std::size_t n, std::uint64_t at) {
    while (n > 0) {
        const ssize_t got = pread(fd, out, n, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        out += got;
        n -= static_cast<std::size_t>(got);
        at += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace

std::unique_ptr<RecordingWav> RecordingWav::open(const std::string& path, std::string* why) {
    std::unique_ptr<RecordingWav> r(new RecordingWav);
    r->path_ = path;
    // Non-blocking, so that a FIFO put in the recording's place cannot hang the open.
    r->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (r->fd_ < 0) {
        *why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(r->fd_, &st) != 0) {
        *why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = path + " is not a regular file";
        return nullptr;
    }
    r->fileLength_ = static_cast<std::uint64_t>(st.st_size);

    // libsndfile fills in the CAF data chunk's size only when the file is closed, so a
    // recording in progress declares no audio (or CAF's "-1: up to the end", which libsndfile
    // refuses). When the data chunk stops short of the end of the file, widen it to everything
    // on disk.
    unsigned char head[12];
    if (r->fileLength_ >= 8 && preadAll(r->fd_, head, 8, 0) && std::memcmp(head, "caff", 4) == 0) {
        std::uint64_t at = 8;
        while (at + 12 <= r->fileLength_ && preadAll(r->fd_, head, 12, at)) {
            const std::uint64_t size = bigEndian64(head + 4);
            const std::uint64_t onDisk = r->fileLength_ - at - 12;
            if (std::memcmp(head, "data", 4) == 0) {
                if (size < onDisk || size == UINT64_MAX) {
                    r->patchAt_ = at + 4;
                    for (int i = 0; i < 8; ++i) {
                        r->patch_[i] = static_cast<unsigned char>(onDisk >> (8 * (7 - i)));
                    }
                }
                break;
            }
            if (size > onDisk) {
                break;
            }
            at += 12 + size;
        }
    }

    SF_INFO info{};
    r->file_ = sf_open_virtual(&recordingIo, SFM_READ, &info, r.get());
    if (r->file_ == nullptr) {
        *why = path + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    // A file written as a stream (to a pipe) may not say how long it is.
    if (info.frames == SF_COUNT_MAX || info.frames < 0) {
        *why = path + ": the length of the recording cannot be told";
        return nullptr;
    }
    if (info.frames == 0) {
        *why = path + " holds no samples yet";
        return nullptr;
    }
    if (info.channels <= 0 || info.channels > 64) {
        *why = path + ": unusable channel count " + std::to_string(info.channels);
        return nullptr;
    }
    r->channels_ = info.channels;
    r->rate_ = info.samplerate;
    r->frames_ = info.frames;
    const std::uint64_t frameBytes = 2u * static_cast<std::uint64_t>(info.channels);
    if (static_cast<std::uint64_t>(info.frames) > (UINT32_MAX - kHeaderBytes) / frameBytes) {
        *why = path + " is too long for a WAV file";
        return nullptr;
    }
    r->dataBytes_ = static_cast<std::uint64_t>(info.frames) * frameBytes;

    unsigned char* h = r->header_;
    std::memcpy(h, "RIFF", 4);
    littleEndian(h + 4, 36 + r->dataBytes_, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    littleEndian(h + 16, 16, 4);  // fmt chunk size
    littleEndian(h + 20, 1, 2);   // PCM
    littleEndian(h + 22, static_cast<std::uint64_t>(r->channels_), 2);
    littleEndian(h + 24, static_cast<std::uint64_t>(r->rate_), 4);
    littleEndian(h + 28, static_cast<std::uint64_t>(r->rate_) * frameBytes, 4);
    littleEndian(h + 32, frameBytes, 2);
    littleEndian(h + 34, 16, 2);  // bits per sample
    std::memcpy(h + 36, "data", 4);
    littleEndian(h + 40, r->dataBytes_, 4);
    return r;
}

RecordingWav::~RecordingWav() {
    if (file_ != nullptr) {
        sf_close(file_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::int64_t RecordingWav::readSource(void* out, std::int64_t count, std::int64_t at) const {
    if (at < 0 || count <= 0 || static_cast<std::uint64_t>(at) >= fileLength_) {
        return 0;
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(count), fileLength_ - static_cast<std::uint64_t>(at)));
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r =
            pread(fd_, bytes + got, n - got, static_cast<off_t>(at) + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    if (patchAt_ != 0) {
        const auto begin = static_cast<std::uint64_t>(at);
        for (std::size_t i = 0; i < 8; ++i) {
            const std::uint64_t where = patchAt_ + i;
            if (where >= begin && where < begin + got) {
                bytes[where - begin] = patch_[i];
            }
        }
    }
    return static_cast<std::int64_t>(got);
}

bool RecordingWav::fill() {
    const std::int64_t left = frames_ - framesRead_;
    const auto want = static_cast<sf_count_t>(std::min<std::int64_t>(left, kChunkFrames));
    samples_.resize(static_cast<std::size_t>(want) * static_cast<std::size_t>(channels_));
    const sf_count_t got = sf_readf_short(file_, samples_.data(), want);
    if (got <= 0) {
        error_ = path_ + " ended after " + std::to_string(framesRead_) + " of " +
                 std::to_string(frames_) + " frames: it was cut short or replaced";
        return false;
    }
    framesRead_ += got;
    const auto values = static_cast<std::size_t>(got) * static_cast<std::size_t>(channels_);
    chunk_.resize(values * 2);
    for (std::size_t i = 0; i < values; ++i) {
        const auto v = static_cast<std::uint16_t>(samples_[i]);
        chunk_[2 * i] = static_cast<unsigned char>(v & 0xff);
        chunk_[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    chunkAt_ = 0;
    return true;
}

std::int64_t RecordingWav::read(char* out, std::size_t len) {
    if (!error_.empty()) {
        return -1;
    }
    std::size_t done = 0;
    while (done < len && position_ < size()) {
        if (position_ < kHeaderBytes) {
            const auto n = std::min<std::size_t>(len - done, kHeaderBytes - position_);
            std::memcpy(out + done, header_ + position_, n);
            done += n;
            position_ += n;
            continue;
        }
        if (chunkAt_ == chunk_.size() && !fill()) {
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        const auto n = std::min(len - done, chunk_.size() - chunkAt_);
        std::memcpy(out + done, chunk_.data() + chunkAt_, n);
        chunkAt_ += n;
        done += n;
        position_ += n;
    }
    return static_cast<std::int64_t>(done);
}

bool RecordingWav::rewind() {
    if (sf_seek(file_, 0, SEEK_SET) != 0) {
        error_ = path_ + ": " + sf_strerror(file_);
        return false;
    }
    error_.clear();
    position_ = 0;
    framesRead_ = 0;
    chunk_.clear();
    chunkAt_ = 0;
    return true;
}

}  // namespace fm::platform
