#pragma once
// Where a server listens, as given on the command line: "[HOST:]PORT". Qt-free.
#include <optional>
#include <string>

namespace fm::platform {

struct ListenAddress {
    // An IPv4 address, an IPv6 address without brackets, or a name the server looks up.
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port
};

// "[HOST:]PORT", e.g. "9100", "0.0.0.0:9100", "[::1]:9100", "localhost:0". Nothing, with *error
// set, when the text is not of that form or the port is not 0 … 65535.
std::optional<ListenAddress> parseListenAddress(const std::string& text, std::string* error);

}  // namespace fm::platform
