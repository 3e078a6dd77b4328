#include "platform/console/Console.h"

#include <atomic>

namespace fm::platform {

namespace {
std::atomic<bool> onStandardError{false};
std::atomic<const char*> name{"fieldmeter"};
}  // namespace

void moveConsoleToStandardError() {
    onStandardError.store(true, std::memory_order_relaxed);
}

std::FILE* console() {
    return onStandardError.load(std::memory_order_relaxed) ? stderr : stdout;
}

}  // namespace fm::platform

namespace fm::platform {

void setProgramName(const char* programName) {
    name.store(programName, std::memory_order_relaxed);
}

const char* programName() {
    return name.load(std::memory_order_relaxed);
}

}  // namespace fm::platform
