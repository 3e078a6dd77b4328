#pragma once
// Appends one "key value" line to the summary file that scripts/run-bench.sh collects.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fm::bench {

inline void recordSummary(const std::string& key, double value) {
    const char* path = std::getenv("FM_BENCH_SUMMARY");
    std::printf("%s %.4f\n", key.c_str(), value);
    if (path == nullptr || *path == '\0') {
        return;
    }
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %.4f\n", key.c_str(), value);
        std::fclose(f);
    }
}

}  // namespace fm::bench
