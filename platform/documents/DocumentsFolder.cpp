#include "platform/documents/DocumentsFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

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

}  // namespace

void setDocumentsFolder(const std::string& path) {
    overridePath() = withoutTrailingSlash(path);
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

}  // namespace fm::platform
