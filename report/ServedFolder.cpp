#include "report/ServedFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace fm::report {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

bool endsInOneOf(const std::string& name, const std::vector<std::string>& endings) {
    return std::any_of(endings.begin(), endings.end(),
                       [&](const std::string& e) { return name.ends_with(e); });
}

}  // namespace

ServedFolder::ServedFolder(std::string path, std::vector<std::string> endings)
    : path_(std::move(path)), endings_(std::move(endings)) {}

std::vector<ServedFile> ServedFolder::list() const {
    std::vector<ServedFile> files;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path_.c_str()));
    if (!dir) {
        return files;
    }
    const int fd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (!endsInOneOf(name, endings_) ||
            ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            continue;
        }
        files.push_back({name, static_cast<std::uint64_t>(info.st_size),
                         static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 +
                             info.st_mtim.tv_nsec / 1000000});
    }
    std::sort(files.begin(), files.end(),
              [](const ServedFile& a, const ServedFile& b) { return a.name < b.name; });
    return files;
}

int ServedFolder::open(const std::string& name) const {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path_.c_str()));
    if (!dir || name.empty() || !endsInOneOf(name, endings_)) {
        return -1;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (name != entry->d_name) {
            continue;
        }
        // The entry's own name, one component of this folder; O_NOFOLLOW refuses a link that
        // took the file's place since the listing, O_NONBLOCK a FIFO.
        const int fd = ::openat(::dirfd(dir.get()), entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    return -1;
}

std::string percentEncodedSegment(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        // Letters and digits of ASCII only: the locale must not decide.
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        }
    }
    return out;
}

}  // namespace fm::report
