#pragma once
// Reads a small file that holds a secret (a password, a token): its text without the trailing
// line break. The secret never appears in what is said, only the file's name.
#include <string>

namespace fm::deliver {

bool readSecretFile(const std::string& path, std::string* secret, std::string* why);

}  // namespace fm::deliver
