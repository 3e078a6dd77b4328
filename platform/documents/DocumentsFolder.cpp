#include "platform/documents/DocumentsFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/console/Console.h"

namespace fm::platform {
namespace {

std::string& overridePath() {
    static std::string path;
    return path;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/tmp";
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// What was last said about the folder's problem: "" while it is usable, or nothing was said.
std::mutex& reportMutex() {
    static std::mutex mutex;
    return mutex;
}
std::string& lastReportedProblem() {
    static std::string problem;
    return problem;
}

}  // namespace

void setDocumentsFolder(const std::string& path) {
    overridePath() = withoutTrailingSlash(path);
    // Nothing has been said about the new folder yet.
    const std::lock_guard<std::mutex> lock(reportMutex());
    lastReportedProblem().clear();
}

std::string documentsFolder() {
    if (!overridePath().empty()) {
        return overridePath();
    }
    return withoutTrailingSlash(homeFolder()) + "/Documents/fieldmeter";
}

bool ensureDocumentsFolder(std::string* error) {
    const std::string path = documentsFolder();
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        if (error != nullptr) {
            *error = path + ": " + ec.message();
        }
        return false;
    }
    if (access(path.c_str(), W_OK | X_OK) != 0) {
        if (error != nullptr) {
            *error = path + ": " + std::strerror(errno);
        }
        return false;
    }
    return true;
}

bool ensureDocumentsFolderReporting(std::string* error) {
    std::string why;
    const bool ok = ensureDocumentsFolder(&why);
    {
        const std::lock_guard<std::mutex> lock(reportMutex());
        std::string& lastReported = lastReportedProblem();
        if (!ok && why != lastReported) {
            std::fprintf(stderr, "%s: documents folder unusable: %s; nothing can be recorded\n",
                         fm::platform::programName(), why.c_str());
            lastReported = why;
        } else if (ok && !lastReported.empty()) {
            std::fprintf(stderr, "%s: documents folder %s is usable again\n",
                         fm::platform::programName(), documentsFolder().c_str());
            lastReported.clear();
        }
    }
    if (!ok && error != nullptr) {
        *error = why;
    }
    return ok;
}

int openOwnOutputFile(const std::string& path, std::string* error) {
    auto fail = [&](int err) {
        if (error != nullptr) {
            *error = std::strerror(err);
        }
        return -1;
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        // O_NONBLOCK: a FIFO placed here must not hang the open; it is refused below.
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
        if (fd < 0) {
            const int err = errno;
            struct stat st {};
            if (err == ELOOP && attempt == 0 && ::lstat(path.c_str(), &st) == 0 &&
                S_ISLNK(st.st_mode)) {
                if (::unlink(path.c_str()) != 0) {
                    return fail(errno);
                }
                std::fprintf(stderr,
                             "%s: %s was a symbolic link; replaced it by a new file "
                             "(the link's target is left untouched)\n",
                             fm::platform::programName(), path.c_str());
                continue;
            }
            return fail(err);
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int err = errno;
            ::close(fd);
            if (error != nullptr) {
                *error = S_ISREG(st.st_mode) ? std::strerror(err) : "not a regular file";
            }
            return -1;
        }
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
            ::ftruncate(fd, 0) != 0) {
            const int err = errno;
            ::close(fd);
            return fail(err);
        }
        return fd;
    }
    return fail(ELOOP);
}

bool lockDocumentsFolder(std::string* error, long* holder) {
    if (holder != nullptr) {
        *holder = 0;
    }
    const std::string path = documentsFolder() + "/.fieldmeter.lock";
    // Kept open (and so locked) until the process ends; never closed on purpose.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error != nullptr) {
            *error = path + ": " + std::strerror(errno);
        }
        return false;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        const int err = errno;
        const bool held = err == EACCES || err == EAGAIN;
        if (held && holder != nullptr) {
            struct flock probe {};
            probe.l_type = F_WRLCK;
            probe.l_whence = SEEK_SET;
            if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
                *holder = probe.l_pid;
            }
            if (*holder <= 0) {
                // Another PID namespace: the holder wrote its id into the file.
                char text[32] = {};
                if (::pread(fd, text, sizeof text - 1, 0) > 0) {
                    *holder = std::strtol(text, nullptr, 10);
                }
            }
            if (*holder <= 0) {
                *holder = -1;
            }
        }
        ::close(fd);
        if (error != nullptr) {
            *error =
                held ? std::string("in use by another process") : path + ": " + std::strerror(err);
        }
        return false;
    }
    const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    return true;
}

}  // namespace fm::platform
