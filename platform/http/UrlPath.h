#pragma once
// The path of a request target, percent-decoded. Qt-free.
#include <optional>
#include <string>
#include <string_view>

namespace fm::platform {

// The path of "/a%20b?x=1" is "/a b". Nothing when the target does not start with "/", holds a
// "%" without two hexadecimal digits, or decodes to a NUL (which would cut the path short in
// any C function it reaches). "+" stays "+": it means a space only in a query.
std::optional<std::string> decodeUrlPath(std::string_view target);

}  // namespace fm::platform
