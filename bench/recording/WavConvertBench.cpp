// Converting a full raw motion series (50000 samples 10 ms apart, about 22 million output
// samples) to "rawAccel.out" on disk, as writeRawAccelDataToFile does it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "BenchSummary.h"
#include "platform/documents/DocumentsFolder.h"
#include "recording/RawMotion.h"
#include "recording/RawMotionWav.h"

namespace {

double totalSeconds = 0.0;
double totalSamples = 0.0;

void fillSeries() {
    for (int i = 0; i < fm::recording::kRawSampleCapacity; ++i) {
        fm::recording::rawSamples[i] = 10.0 * std::sin(i * 0.01);
        fm::recording::rawSampleTimes[i] = 1.7e12 + 10.0 * i;
    }
    fm::recording::rawSampleCount = fm::recording::kRawSampleCapacity;
    fm::recording::rewindRawSeries();
}

void BM_WavConvert(benchmark::State& state) {
    fillSeries();
    const auto out = std::filesystem::path(fm::platform::documentsFolder()) / "rawAccel.out";
    // Keep the conversion's progress messages out of the benchmark's report.
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDOUT_FILENO);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        fm::recording::writeRawAccelDataToFile();
        const auto end = std::chrono::steady_clock::now();
        totalSeconds += std::chrono::duration<double>(end - start).count();
        totalSamples += static_cast<double>((std::filesystem::file_size(out) - 44) / 2);
    }
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    close(devNull);
    state.counters["samples_per_s"] = benchmark::Counter(totalSamples / totalSeconds);
}
BENCHMARK(BM_WavConvert)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/fm-bench-wav-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    fm::platform::setDocumentsFolder(pattern);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(pattern);
    if (totalSeconds <= 0.0) {
        return 1;
    }
    fm::bench::recordSummary("wav_convert_msamples_per_s", totalSamples / totalSeconds / 1e6);
    return 0;
}
