#pragma once
// A folder whose files the web server hands out: the regular files in it with the given name
// endings, listed afresh at every call, and opened only by a name the listing holds. A name from
// a URL is compared with the listing, never joined to a path: "..", "a/b", an absolute path or
// a symbolic link placed in the folder is never opened. Any thread. Qt-free.
#include <cstdint>
#include <string>
#include <vector>

namespace fm::report {

struct ServedFile {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modifiedMs = 0;  // milliseconds since 1970
};

class ServedFolder {
  public:
    ServedFolder(std::string path, std::vector<std::string> endings);

    // The regular files (never a link, a folder, a FIFO or a device) whose names end in one of
    // the endings, by name; empty when the folder is missing.
    std::vector<ServedFile> list() const;
    // The listed file of exactly that name, opened for reading without following a link: its
    // descriptor (the caller closes it), or -1 when there is no such file.
    int open(const std::string& name) const;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::vector<std::string> endings_;
};

// `text` percent-encoded for one segment of a URL path ("a b.wav" -> "a%20b.wav").
std::string percentEncodedSegment(const std::string& text);

}  // namespace fm::report
