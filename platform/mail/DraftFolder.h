#pragma once
// Saved drafts: one .eml file each in the documents folder's "Drafts" folder.
#include <chrono>
#include <string>

namespace fm::platform {

// Writes message as a new file "Drafts/draft-YYYYMMDD-HHMMSS[-N].eml" (local time of when;
// never replacing an earlier draft). Returns the file's path, or empty with *error set to the
// path and the system's reason.
std::string saveDraft(const std::string& message, std::chrono::system_clock::time_point when,
                      std::string* error);

}  // namespace fm::platform
