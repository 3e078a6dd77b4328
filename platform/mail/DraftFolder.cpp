#include "platform/mail/DraftFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace fm::platform {
namespace {

std::string fail(std::string* error, const std::string& path, int err) {
    if (error != nullptr) {
        *error = path + ": " + std::strerror(err);
    }
    return {};
}

}  // namespace

std::string saveDraft(const std::string& documents,
                      const std::function<bool(int fd, std::string* error)>& write,
                      std::chrono::system_clock::time_point when, std::string* error) {
    const std::string folder = documents + "/Drafts";
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
        std::string why;
        if (!write(fd, &why)) {
            close(fd);
            unlink(path.c_str());  // half a draft is no draft
            if (error != nullptr) {
                *error = path + ": " + why;
            }
            return {};
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
