#include "platform/mail/DraftFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/documents/DocumentsFolder.h"

namespace fm::platform {
namespace {

std::string fail(std::string* error, const std::string& path, int err) {
    if (error != nullptr) {
        *error = path + ": " + std::strerror(err);
    }
    return {};
}

}  // namespace

std::string saveDraft(const std::string& message, std::chrono::system_clock::time_point when,
                      std::string* error) {
    const std::string folder = documentsFolder() + "/Drafts";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return fail(error, folder, ec.value());
    }
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);

    for (int n = 1; n < 1000; ++n) {
        std::string path = folder + "/draft-" + stamp;
        if (n > 1) {
            path += '-';
            path += std::to_string(n);
        }
        path += ".eml";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            return fail(error, path, errno);
        }
        const char* data = message.data();
        std::size_t left = message.size();
        while (left > 0) {
            const ssize_t written = write(fd, data, left);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                const int err = written < 0 ? errno : ENOSPC;
                close(fd);
                unlink(path.c_str());  // half a draft is no draft
                return fail(error, path, err);
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        if (close(fd) != 0) {
            const int err = errno;
            unlink(path.c_str());
            return fail(error, path, err);
        }
        return path;
    }
    return fail(error, folder + "/draft-" + stamp + ".eml", EEXIST);
}

}  // namespace fm::platform
