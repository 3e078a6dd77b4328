#pragma once
// Saved drafts: one .eml file each in the documents folder's "Drafts" folder.
#include <chrono>
#include <functional>
#include <string>

namespace fm::platform {

// Creates a new file "Drafts/draft-YYYYMMDD-HHMMSS[-N].eml" in documents (local time of when;
// never replacing an earlier draft) and has write(fd, &error) fill it. Returns the file's
// path, or empty with *error set to the path and the reason (no half-written draft is left).
std::string saveDraft(const std::string& documents,
                      const std::function<bool(int fd, std::string* error)>& write,
                      std::chrono::system_clock::time_point when, std::string* error);

}  // namespace fm::platform
