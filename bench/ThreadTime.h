#pragma once
// The CPU time of the calling thread, and the median cost of a piece of work measured with it:
// the cost of the work itself, not of other programs sharing the cores.
#include <algorithm>
#include <ctime>
#include <vector>

namespace fm::bench {

inline double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The median over `batches` of the microseconds one call of `body` takes, each batch `perBatch`
// calls long.
template <typename F>
double medianMicros(F body, int batches, int perBatch) {
    std::vector<double> micros;
    for (int b = 0; b < batches; ++b) {
        const double start = threadCpuSeconds();
        for (int i = 0; i < perBatch; ++i) {
            body();
        }
        micros.push_back((threadCpuSeconds() - start) * 1e6 / perBatch);
    }
    std::nth_element(micros.begin(), micros.begin() + batches / 2, micros.end());
    return micros[static_cast<std::size_t>(batches / 2)];
}

}  // namespace fm::bench
