#pragma once
// Which Host a request may name on a server without an access token. A page of another site,
// opened in a browser on this machine, can reach a server on the loopback address through a name
// of its own that it points at 127.0.0.1 (DNS rebinding); the browser then sends that name as
// the Host. Requests that name the loopback or the server's own address are this machine's own.
// Qt-free.
#include <string>
#include <vector>

namespace fm::platform {

// Whether `host` (the Host header's value) is one of `names` (compared without regard to case;
// an IPv6 address without brackets), alone or with a port: "localhost", "127.0.0.1:9100",
// "[::1]:9100". Anything else, a missing or repeated header among it, is not.
bool hostHeaderNames(const std::string& host, const std::vector<std::string>& names);

}  // namespace fm::platform
