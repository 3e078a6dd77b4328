// The third-octave bands' cost: one 1024-frame block of white noise through all 30 bands.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

#include "BenchSummary.h"
#include "ThreadTime.h"
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
    const double micros =
        fm::bench::medianMicros([&] { bands.process(block.data(), 1024); }, 101, 1000);
    benchmark::DoNotOptimize(bands.energy(0));
    fm::bench::recordSummary("bands_block_us", micros);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    recordFigures();
    return 0;
}
