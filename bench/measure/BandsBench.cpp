// The third-octave bands' cost: one 1024-frame block of white noise through all 30 bands.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

#include "BenchSummary.h"
#include "measure/ThirdOctaveBands.h"

namespace {

std::vector<float> whiteNoiseBlock() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.6f, 0.6f);
    std::vector<float> block(1024);
    for (float& s : block) {
        s = dist(rng);
    }
    return block;
}

// CPU time of this thread: the cost of the work itself, not of other programs sharing the cores.
double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_Bands1024(benchmark::State& state) {
    const std::vector<float> block = whiteNoiseBlock();
    fm::measure::ThirdOctaveBands bands;
    for (auto _ : state) {
        bands.process(block.data(), 1024);
    }
    benchmark::DoNotOptimize(bands.energy(0));
}
BENCHMARK(BM_Bands1024);

void recordFigures() {
    const std::vector<float> block = whiteNoiseBlock();
    fm::measure::ThirdOctaveBands bands;
    std::vector<double> micros;
    for (int batch = 0; batch < 101; ++batch) {
        const double start = threadCpuSeconds();
        for (int i = 0; i < 1000; ++i) {
            bands.process(block.data(), 1024);
        }
        micros.push_back((threadCpuSeconds() - start) * 1e6 / 1000);
    }
    std::nth_element(micros.begin(), micros.begin() + 50, micros.end());
    benchmark::DoNotOptimize(bands.energy(0));
    fm::bench::recordSummary("bands_block_us", micros[50]);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    recordFigures();
    return 0;
}
