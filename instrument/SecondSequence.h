#pragma once
// The meter's seconds counted across restarts: each delivered second carries the next number, so
// that a consumer can drop the duplicates an at-least-once delivery brings and see any gap. The
// count is kept in a file of the state folder, written in place at every second. Qt-free.
#include <cstdint>
#include <string>

namespace fm::instrument {

class SecondSequence {
  public:
    // Opens (or makes) the file; on failure the count starts at 1 and *error says why.
    SecondSequence(const std::string& path, std::string* error);
    ~SecondSequence();
    SecondSequence(const SecondSequence&) = delete;
    SecondSequence& operator=(const SecondSequence&) = delete;

    // The next number, kept before it is handed out.
    std::uint64_t next();

  private:
    int fd_ = -1;
    std::uint64_t last_ = 0;
};

}  // namespace fm::instrument
