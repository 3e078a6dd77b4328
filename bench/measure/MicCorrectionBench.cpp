// The microphone correction's cost on the measuring thread: one 1024-frame block of white noise
// through the filter made from a unit's file.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "BenchSummary.h"
#include "ThreadTime.h"
#include "measure/MicCorrection.h"

namespace {

fm::measure::MicResponse unitResponse() {
    fm::measure::MicResponse r;
    r.name = "unit.txt";
    r.points = {{10, -2.5},  {20, -1.0},   {50, -0.3},   {100, 0},     {1000, 0},
                {5000, 0.5}, {10000, 1.8}, {13000, 2.6}, {16000, 1.0}, {20000, -2.0}};
    return r;
}

std::vector<float> whiteNoiseBlock() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.6f, 0.6f);
    std::vector<float> block(1024);
    for (float& s : block) {
        s = dist(rng);
    }
    return block;
}

void BM_MicCorrection1024(benchmark::State& state) {
    const std::vector<float> block = whiteNoiseBlock();
    fm::measure::MicCorrection filter(unitResponse(), 44100.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.apply(block.data(), 1024));
    }
}
BENCHMARK(BM_MicCorrection1024);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const std::vector<float> block = whiteNoiseBlock();
    fm::measure::MicCorrection filter(unitResponse(), 44100.0);
    fm::bench::recordSummary(
        "mic_correction_block_us",
        fm::bench::medianMicros([&] { filter.apply(block.data(), 1024); }, 101, 1000));
    return 0;
}
