#pragma once
// The count of open connections, in all and from each client address, against their limits.
// A connection over either limit is not counted: it is answered "503" and closed. Qt-free.
#include <map>
#include <mutex>
#include <string>

namespace fm::platform {

class ConnectionLimits {
  public:
    ConnectionLimits(unsigned total, unsigned perAddress)
        : total_(total), perAddress_(perAddress) {}

    // Counts a new connection from the address; false (and not counted) when it is over a limit.
    bool admit(const std::string& address);
    // A counted connection from the address has closed.
    void release(const std::string& address);

  private:
    const unsigned total_;
    const unsigned perAddress_;
    std::mutex mutex_;
    unsigned open_ = 0;
    std::map<std::string, unsigned> byAddress_;
};

}  // namespace fm::platform
