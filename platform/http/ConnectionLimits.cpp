#include "platform/http/ConnectionLimits.h"

namespace fm::platform {

bool ConnectionLimits::admit(const std::string& address) {
    std::lock_guard lock(mutex_);
    unsigned& fromAddress = byAddress_[address];
    if (open_ >= total_ || fromAddress >= perAddress_) {
        if (fromAddress == 0) {
            byAddress_.erase(address);
        }
        return false;
    }
    ++open_;
    ++fromAddress;
    return true;
}

void ConnectionLimits::release(const std::string& address) {
    std::lock_guard lock(mutex_);
    const auto it = byAddress_.find(address);
    if (it == byAddress_.end()) {
        return;
    }
    --open_;
    if (--it->second == 0) {
        byAddress_.erase(it);
    }
}

}  // namespace fm::platform
