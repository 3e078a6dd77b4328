#include "report/CsvFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fm::report {

namespace {

std::string systemError(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

// The file's first line, without its end ("" when it has none yet).
std::string firstLine(const std::string& path) {
    std::string line;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return line;
    }
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        const auto* end =
            static_cast<const char*>(std::memchr(buffer, '\n', static_cast<std::size_t>(n)));
        if (end != nullptr) {
            line.append(buffer, static_cast<std::size_t>(end - buffer));
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
        if (line.size() > 65536) {
            break;
        }
    }
    ::close(fd);
    return line;
}

}  // namespace

std::unique_ptr<CsvFile> CsvFile::open(const std::string& path, const std::string& header,
                                       std::string* error, bool* waiting) {
    if (waiting != nullptr) {
        *waiting = false;
    }
    std::unique_ptr<CsvFile> file(new CsvFile(path, header));
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        struct stat info {};
        if (errno == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
            // A FIFO nobody reads yet: rows go to it once somebody does.
            file->stream_ = true;
            if (waiting != nullptr) {
                *waiting = true;
            }
            return file;
        }
        *error = systemError(path, errno);
        return nullptr;
    }
    file->fd_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = systemError(path, errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        file->stream_ = true;
        const ssize_t written = ::write(fd, header.data(), header.size());
        if (written == static_cast<ssize_t>(header.size())) {
            return file;
        }
        // A reader that cannot take the header now (or left) gets it when the file is opened
        // again; a device that refuses it is no place for rows.
        if (written < 0 && errno != EAGAIN && errno != EPIPE) {
            *error = systemError(path, errno);
            return nullptr;
        }
        ::close(fd);
        file->fd_ = -1;
        if (waiting != nullptr) {
            *waiting = true;
        }
        return file;
    }
    if (info.st_size == 0) {
        if (!file->write(header, error)) {
            return nullptr;
        }
    } else {
        const std::string expected = header.substr(0, header.find('\n'));
        if (firstLine(path) != expected) {
            *error = path +
                     ": its columns are not this version's (its first line is not the header "
                     "below); give another file, or move this one away\n  " +
                     expected;
            return nullptr;
        }
        // A power cut can leave the last row without its end; the next row starts on a line of
        // its own rather than being glued to it.
        char last = '\n';
        if (const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); reader >= 0) {
            if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
                last = '\n';
            }
            ::close(reader);
        }
        if (last != '\n' && !file->write("\n", error)) {
            return nullptr;
        }
    }
    file->syncer_ = std::thread([f = file.get()] { f->syncLoop(); });
    return file;
}

CsvFile::CsvFile(std::string path, std::string header)
    : path_(std::move(path)), header_(std::move(header)) {}

CsvFile::~CsvFile() {
    if (syncer_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        syncer_.join();
        ::fdatasync(fd_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void CsvFile::syncLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kSyncInterval, [this] { return stopping_; })) {
        lock.unlock();
        ::fdatasync(fd_);
        lock.lock();
    }
}

bool CsvFile::reopen(std::string* error) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = errno == ENXIO ? path_ + ": nobody reads it" : systemError(path_, errno);
        return false;
    }
    fd_ = fd;
    // Whoever reads now starts with the names of the columns.
    return write(header_, error);
}

bool CsvFile::append(const std::string& row, std::string* error) {
    if (fd_ < 0 && !reopen(error)) {
        return false;
    }
    return write(row, error);
}

bool CsvFile::write(const std::string& text, std::string* error) {
    ssize_t written;
    do {
        written = ::write(fd_, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(text.size())) {
        return true;
    }
    const int cause = errno;
    if (stream_) {
        // The reader left (EPIPE) or cannot take a whole row now (EAGAIN; a row is shorter than
        // a pipe's atomic write, so nothing of it went in): closed, and opened again next time.
        if (written >= 0) {
            *error = path_ + ": the reader took only part of a row";
        } else if (cause == EAGAIN) {
            *error = path_ + ": the reader is not reading";
        } else {
            *error = systemError(path_, cause);
        }
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    if (written < 0) {
        *error = systemError(path_, cause);
        return false;
    }
    // The disk took only part of the row (full, or over a size limit): cut that part off again,
    // so that the file still ends with a whole row.
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end >= written) {
        [[maybe_unused]] const int cut = ::ftruncate(fd_, end - written);
    }
    *error = path_ + ": the disk took only " + std::to_string(written) + " of " +
             std::to_string(text.size()) + " bytes of a row (full?)";
    return false;
}

}  // namespace fm::report
