#include "platform/cpu/VectorState.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#endif

namespace fm::platform {

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

// Read once while the program loads; the audio thread only reads the answer.
const bool kHasAvx = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}();

[[gnu::target("avx")]] void zeroUpper() {
    __builtin_ia32_vzeroupper();
}

// XGETBV with ECX = 1 (the state components in use) exists where CPUID leaf 0Dh, sub-leaf 1,
// sets EAX bit 2.
bool canReadStateInUse() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!kHasAvx || __get_cpuid_count(0x0d, 1, &a, &b, &c, &d) == 0) {
        return false;
    }
    return (a & (1u << 2)) != 0;
}

}  // namespace

void clearUpperVectorState() noexcept {
    if (kHasAvx) {
        zeroUpper();
    }
}

int upperVectorStateInUse() noexcept {
    if (!canReadStateInUse()) {
        return -1;
    }
    unsigned lo = 0, hi = 0;
    asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & (1u << 2)) != 0 ? 1 : 0;  // component 2: the upper halves of YMM0-15
}

#else

void clearUpperVectorState() noexcept {}

int upperVectorStateInUse() noexcept {
    return -1;
}

#endif

}  // namespace fm::platform
