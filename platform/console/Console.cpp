#include "platform/console/Console.h"

#include <atomic>

namespace fm::platform {

namespace {
std::atomic<bool> onStandardError{false};
}  // namespace

void moveConsoleToStandardError() {
    onStandardError.store(true, std::memory_order_relaxed);
}

std::FILE* console() {
    return onStandardError.load(std::memory_order_relaxed) ? stderr : stdout;
}

}  // namespace fm::platform
