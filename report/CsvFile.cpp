#include "report/CsvFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/console/Console.h"

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

// The process holding a flock on the file, as /proc/locks tells it; 0 when it cannot be told.
long flockHolder(const struct stat& file) {
    std::FILE* locks = std::fopen("/proc/locks", "re");
    if (locks == nullptr) {
        return 0;
    }
    long holder = 0;
    char line[512];
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        // "3: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter ("3: -> FLOCK ...") holds
        // nothing.
        char kind[16] = {};
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &major, &minor,
                        &inode) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && major == ::major(file.st_dev) &&
            minor == ::minor(file.st_dev) && inode == file.st_ino) {
            holder = pid;
        }
    }
    std::fclose(locks);
    return holder;
}

bool isStandardOutput(const struct stat& file) {
    struct stat out {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == file.st_dev &&
           out.st_ino == file.st_ino;
}

int openForAppending(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
}

}  // namespace

std::unique_ptr<CsvFile> CsvFile::open(const std::string& path, const std::string& header,
                                       std::string* error, bool* waiting) {
    bool wait = false;
    std::unique_ptr<CsvFile> file(new CsvFile(path, header));
    if (!file->attach(false, &wait, error)) {
        return nullptr;
    }
    if (waiting != nullptr) {
        *waiting = wait;
    }
    if (!file->stream_) {
        file->syncer_ = std::thread([f = file.get()] { f->syncLoop(); });
    }
    return file;
}

bool CsvFile::attach(bool makeFolder, bool* waiting, std::string* error) {
    *waiting = false;
    int fd = openForAppending(path_);
    if (fd < 0 && errno == ENOENT && makeFolder) {
        // The folder went with the file: both are made again.
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
        fd = openForAppending(path_);
    }
    if (fd < 0) {
        struct stat info {};
        if (errno == ENXIO && ::stat(path_.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
            // A FIFO nobody reads yet: rows go to it once somebody does.
            stream_ = true;
            *waiting = true;
            return true;
        }
        *error = systemError(path_, errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = systemError(path_, errno);
        ::close(fd);
        return false;
    }
    if (isStandardOutput(info)) {
        platform::moveConsoleToStandardError();  // the stream holds rows only
    }
    if (!S_ISREG(info.st_mode)) {
        stream_ = true;
        const ssize_t written = ::write(fd, header_.data(), header_.size());
        if (written == static_cast<ssize_t>(header_.size())) {
            std::lock_guard<std::mutex> lock(mutex_);
            fd_ = fd;
            return true;
        }
        // A reader that cannot take the header now (or left) gets it when the file is opened
        // again; a device that refuses it is no place for rows.
        const int cause = errno;
        ::close(fd);
        if (written < 0 && cause != EAGAIN && cause != EPIPE) {
            *error = systemError(path_, cause);
            return false;
        }
        *waiting = true;
        return true;
    }
    // A file system without locks (some network ones) is written unlocked rather than not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        const long holder = flockHolder(info);
        *error = path_ + ": in use by " +
                 (holder > 0 ? "process " + std::to_string(holder) : "another process") +
                 " (another fieldmeter?); two programs never write into one file";
        return false;
    }
    stream_ = false;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
    }
    if (info.st_size == 0) {
        if (!write(header_, error)) {
            detach();
            return false;
        }
        return true;
    }
    const std::string expected = header_.substr(0, header_.find('\n'));
    if (firstLine(path_) != expected) {
        *error = path_ +
                 ": its columns are not this version's (its first line is not the header "
                 "below); give another file, or move this one away\n  " +
                 expected;
        detach();
        return false;
    }
    // A power cut can leave the last row without its end; the next row starts on a line of its
    // own rather than being glued to it.
    char last = '\n';
    if (const int reader = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC); reader >= 0) {
        if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
            last = '\n';
        }
        ::close(reader);
    }
    if (last != '\n' && !write("\n", error)) {
        detach();
        return false;
    }
    return true;
}

void CsvFile::detach() {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(fd, fd_);
    }
    if (fd >= 0) {
        ::close(fd);  // and the lock with it
    }
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
        if (fd_ >= 0) {
            ::fdatasync(fd_);
        }
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void CsvFile::syncLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kSyncInterval, [this] { return stopping_; })) {
        // A descriptor of its own: the file may be closed and opened anew meanwhile.
        const int fd = fd_ >= 0 ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
        lock.unlock();
        if (fd >= 0) {
            ::fdatasync(fd);
            ::close(fd);
        }
        lock.lock();
    }
}

CsvFile::Follow CsvFile::follow(std::string* error) {
    bool waiting = false;
    if (stream_) {
        return Follow::Same;
    }
    if (fd_ < 0) {
        // Not open since a failure: opened at its path now.
        return attach(true, &waiting, error) ? Follow::Same : Follow::Failed;
    }
    struct stat atPath {};
    if (::stat(path_.c_str(), &atPath) == 0) {
        if (atPath.st_dev == device_ && atPath.st_ino == inode_) {
            if (atPath.st_size > 0) {
                return Follow::Same;
            }
            // Emptied in place (logrotate's copytruncate): its rows start under the header.
            return write(header_, error) ? Follow::Renewed : Follow::Failed;
        }
    } else if (errno != ENOENT && errno != ENOTDIR) {
        return Follow::Same;  // cannot be told (no permission to look): written as it was
    }
    detach();
    return attach(true, &waiting, error) ? Follow::Renewed : Follow::Failed;
}

CsvFile::Follow CsvFile::reopen(std::string* error) {
    if (stream_) {
        return Follow::Same;
    }
    const dev_t device = device_;
    const ino_t inode = inode_;
    detach();
    bool waiting = false;
    if (!attach(true, &waiting, error)) {
        return Follow::Failed;
    }
    return device_ == device && inode_ == inode ? Follow::Same : Follow::Renewed;
}

bool CsvFile::reopenStream(std::string* error) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = errno == ENXIO ? path_ + ": nobody reads it" : systemError(path_, errno);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
    }
    // Whoever reads now starts with the names of the columns.
    return write(header_, error);
}

bool CsvFile::append(const std::string& row, std::string* error) {
    if (fd_ < 0) {
        if (stream_) {
            if (!reopenStream(error)) {
                return false;
            }
        } else {
            bool waiting = false;
            if (!attach(true, &waiting, error)) {
                return false;
            }
            if (fd_ < 0) {
                *error = path_ + ": nobody reads it";
                return false;
            }
        }
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
        detach();
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
