#include "deliver/Secret.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace fm::deliver {

bool readSecretFile(const std::string& path, std::string* secret, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (why) *why = "cannot read " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() > 64 * 1024) {
        if (why) *why = path + " is too large for a secret";
        return false;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    *secret = std::move(text);
    return true;
}

}  // namespace fm::deliver
