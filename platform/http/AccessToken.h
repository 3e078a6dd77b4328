#pragma once
// The access token that guards the server: made at random, checked in constant time. Qt-free.
#include <string>
#include <string_view>

namespace fm::platform {

// 32 hexadecimal digits from the kernel's random source; "" with *error set when it fails.
std::string makeAccessToken(std::string* error);

// Whether `given` is `expected`, in a time that depends on expected's length only.
bool accessTokenMatches(std::string_view given, std::string_view expected);

// Whether the text can be a token: 1 to 256 of the characters a Bearer token, a query parameter
// and a cookie all carry unchanged (letters, digits and - . _ ~).
bool isUsableAccessToken(std::string_view token);

// The token kept in a file (its first line, without surrounding blanks). "" with *error saying
// why when the file cannot be read, is empty or holds no usable token.
std::string readAccessTokenFile(const std::string& path, std::string* error);

}  // namespace fm::platform
