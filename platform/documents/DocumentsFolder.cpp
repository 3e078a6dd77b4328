#include "platform/documents/DocumentsFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
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
            std::fprintf(stderr,
                         "fieldmeter: documents folder unusable: %s; nothing can be recorded\n",
                         why.c_str());
            lastReported = why;
        } else if (ok && !lastReported.empty()) {
            std::fprintf(stderr, "fieldmeter: documents folder %s is usable again\n",
                         documentsFolder().c_str());
            lastReported.clear();
        }
    }
    if (!ok && error != nullptr) {
        *error = why;
    }
    return ok;
}

}  // namespace fm::platform
