#include "recording/RawMotionPlist.h"

#include <fcntl.h>
#include <unistd.h>

#include <plist/plist++.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/documents/DocumentsFolder.h"
#include "recording/RawMotion.h"

namespace fm::recording {

namespace {

// Writes text to a temporary file beside path, then renames it over path, so that a reader
// never sees half a list. Returns the system's reason on failure, empty on success.
std::string replaceAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return std::strerror(errno);
    }
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const std::string reason = std::strerror(n < 0 ? errno : ENOSPC);
            close(fd);
            unlink(temp.c_str());
            return reason;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        const std::string reason = std::strerror(errno);
        unlink(temp.c_str());
        return reason;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        unlink(temp.c_str());
        return reason;
    }
    return {};
}

}  // namespace

void processAndWriteToFile() {
    PList::Array list;
    for (double value : rawSamples) {
        PList::Real real(value);
        list.Append(&real);  // the array keeps a copy
    }

    std::string why;
    if (!fm::platform::ensureDocumentsFolderReporting()) {
        return;  // said already, when the folder became unusable
    }
    rawFilePath = fm::platform::documentsFolder() + "/rawAccel.wav";
    if (why = replaceAtomically(rawFilePath, list.ToXml()); !why.empty()) {
        std::fprintf(stderr, "Could not write %s: %s\n", rawFilePath.c_str(), why.c_str());
        return;
    }

    std::ifstream in(rawFilePath, std::ios::binary);
    std::stringstream xml;
    xml << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "Could not read back %s: %s\n", rawFilePath.c_str(),
                     std::strerror(errno));
        return;
    }
    // Read through the C interface: libplist++'s Array built from XML keeps no child wrappers.
    plist_t root = nullptr;
    const std::string text = xml.str();
    plist_from_xml(text.data(), static_cast<std::uint32_t>(text.size()), &root);
    const std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
    if (root == nullptr || plist_get_node_type(root) != PLIST_ARRAY) {
        std::fprintf(stderr, "Could not read back %s: not a property list array\n",
                     rawFilePath.c_str());
        return;
    }
    // One write for the whole dump: 50000 lines through unbuffered stderr would crawl.
    std::string log;
    char line[64];
    const std::uint32_t size = plist_array_get_size(root);
    for (std::uint32_t i = 0; i < size; ++i) {
        plist_t item = plist_array_get_item(root, i);
        if (plist_get_node_type(item) == PLIST_REAL) {
            double value = 0.0;
            plist_get_real_val(item, &value);
            std::snprintf(line, sizeof line, "Sample: %f\n",
                          static_cast<double>(static_cast<float>(value)));
            log += line;
        }
    }
    std::fwrite(log.data(), 1, log.size(), stderr);
}

}  // namespace fm::recording
