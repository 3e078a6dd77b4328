// The audio thread's costs: one callback of a 1024-frame block (spectrum every second block,
// the block handed to the measuring thread), the sound levels alone (the measuring thread's
// work), one 2048-sample analysis against a bare FFTW execute, and an hour of analysis against
// numpy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "BenchSummary.h"
#include "ThreadTime.h"
#include "audio/AudioEngine.h"
#include "audio/SignalState.h"
#include "measure/Measurement.h"
#include "measure/SoundLevels.h"
#include "platform/audio/AudioInputUnit.h"
#include "recording/RecordingState.h"

namespace {

using fm::platform::OSStatus;

// Hands blocks straight to the callback, as a device's audio thread would: floats, as the sound
// server delivers them.
class PumpUnit : public fm::platform::AudioInputUnit {
  public:
    void pump(const float* samples, std::uint32_t frames) { deliver(samples, frames); }

  protected:
    OSStatus doInitialize() override { return 0; }
    OSStatus doStart() override { return 0; }
    void doStop() override {}
    void doUninitialize() override {}
};

struct Rig {
    Rig() {
        engine.FFTSetup();
        unit.setInputCallback(&fm::audio::audioInputCallback, &engine);
        engine.mAudioUnit = &unit;
        fm::audio::sensitivityGain.store(1.0f);
        fm::audio::baseLevel.store(1.0f);
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> dist(-20000, 20000);
        block.resize(1024);
        for (auto& s : block) {
            s = static_cast<std::int16_t>(dist(rng));
        }
        for (const std::int16_t s : block) {
            floats.push_back(static_cast<float>(s) / 32768.0f);
        }
    }
    ~Rig() { engine.mAudioUnit = nullptr; }
    fm::audio::AudioEngine engine;
    PumpUnit unit;
    std::vector<std::int16_t> block;
    std::vector<float> floats;  // the same block, full scale 1.0
};

using fm::bench::medianMicros;
using fm::bench::threadCpuSeconds;

void BM_Callback1024(benchmark::State& state) {
    Rig rig;
    for (auto _ : state) {
        rig.unit.pump(rig.floats.data(), 1024);
    }
    benchmark::DoNotOptimize(fm::audio::rmsValue.load());
}
BENCHMARK(BM_Callback1024);

void BM_SoundLevels1024(benchmark::State& state) {
    Rig rig;
    fm::measure::SoundLevelMeter meter;
    for (auto _ : state) {
        meter.process(rig.floats.data(), 1024);
    }
    benchmark::DoNotOptimize(meter.read().LAF);
}
BENCHMARK(BM_SoundLevels1024);

void BM_Analysis2048(benchmark::State& state) {
    Rig rig;
    alignas(64) float floatBlock[2048];
    std::copy(rig.block.begin(), rig.block.end(),
              static_cast<std::int16_t*>(rig.engine.samplesBuffer));
    for (auto _ : state) {
        fm::audio::analyseSpectrumBlock(rig.engine, floatBlock);
    }
}
BENCHMARK(BM_Analysis2048);

void BM_BareFftwR2c2048(benchmark::State& state) {
    Rig rig;
    alignas(64) float floatBlock[2048] = {};
    for (auto _ : state) {
        rig.engine.fftSetupObject->executeOnly(floatBlock);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BareFftwR2c2048);

// CPU seconds the numpy reference spends on `blocks` blocks in the given mode, or 0 when it did
// not run (the key then stays missing and the runner reports it).
double numpyReferenceSeconds(const char* mode, int blocks) {
    const std::string command =
        std::string("/usr/bin/python3 " FM_SOURCE_DIR "/bench/reference_analysis.py 3600 ") + mode;
    double seconds = 0.0;
    int done = 0;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%d %lf", &done, &seconds) != 2) {
            seconds = 0.0;
        }
        ::pclose(p);
    }
    if (done != blocks || seconds <= 0.0) {
        std::fprintf(stderr, "bench_audio: numpy reference (%s) did not run (%d blocks)\n", mode,
                     done);
        return 0.0;
    }
    return seconds;
}

void recordFigures() {
    Rig rig;
    fm::recording::recordingActive.store(0);
    // The callback as it runs with the measurement on: each block copied into the ring for the
    // measuring thread. Batches of 100 blocks fit the ring (128 slots), and the measuring thread
    // empties it between batches, untimed: a full ring would time the cheaper dropping path.
    auto& measurement = fm::measure::measurement();
    measurement.start();
    const std::uint64_t droppedBefore = measurement.framesDropped();
    std::vector<double> callbackMicros;
    for (int batch = 0; batch < 101; ++batch) {
        measurement.settle();
        const double start = threadCpuSeconds();
        for (int i = 0; i < 100; ++i) {
            rig.unit.pump(rig.floats.data(), 1024);
        }
        callbackMicros.push_back((threadCpuSeconds() - start) * 1e6 / 100);
    }
    std::nth_element(callbackMicros.begin(), callbackMicros.begin() + 50, callbackMicros.end());
    if (measurement.framesDropped() == droppedBefore) {
        // The sound levels run on the measuring thread, not in the callback.
        fm::bench::recordSummary("callback_block_us", callbackMicros[50]);
    } else {
        std::fprintf(stderr, "bench_audio: the ring dropped blocks; no callback figure\n");
    }
    fm::measure::SoundLevelMeter meter;
    const double levelsUs =
        medianMicros([&] { meter.process(rig.floats.data(), 1024); }, 101, 2000);
    fm::bench::recordSummary("levels_block_us", levelsUs);

    alignas(64) float floatBlock[2048];
    auto* gathered = static_cast<std::int16_t*>(rig.engine.samplesBuffer);
    std::copy(rig.block.begin(), rig.block.end(), gathered);
    std::copy(rig.block.begin(), rig.block.end(), gathered + 1024);
    // Interleave the two so that both see the same machine state.
    std::vector<double> ratios;
    for (int round = 0; round < 21; ++round) {
        const double analysis =
            medianMicros([&] { fm::audio::analyseSpectrumBlock(rig.engine, floatBlock); }, 5, 2000);
        const double bare =
            medianMicros([&] { rig.engine.fftSetupObject->executeOnly(floatBlock); }, 5, 2000);
        ratios.push_back(analysis / bare);
    }
    std::nth_element(ratios.begin(), ratios.begin() + 10, ratios.end());
    fm::bench::recordSummary("analysis_vs_fftw_ratio", ratios[10]);

    // One hour of audio: 44100 × 3600 / 2048 blocks, through our analysis and through numpy.
    const int blocks = 44100 * 3600 / 2048;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::int16_t> source(2048 * 64);
    for (auto& s : source) {
        s = static_cast<std::int16_t>(dist(rng));
    }
    const double start = threadCpuSeconds();
    for (int b = 0; b < blocks; ++b) {
        std::copy_n(source.begin() + (b % 64) * 2048, 2048, gathered);
        fm::audio::analyseSpectrumBlock(rig.engine, floatBlock);
    }
    const double ours = threadCpuSeconds() - start;
    fm::bench::recordSummary("analysis_hour_seconds", ours);

    // Against numpy twice: block by block, as the audio thread meets the blocks (the target),
    // and vectorised over 512 blocks at once, which only an offline analysis could do.
    const double streamSeconds = numpyReferenceSeconds("stream", blocks);
    const double batchSeconds = numpyReferenceSeconds("batch", blocks);
    if (streamSeconds > 0.0) {
        fm::bench::recordSummary("numpy_analysis_hour_seconds", streamSeconds);
        fm::bench::recordSummary("analysis_vs_numpy_speedup", streamSeconds / ours);
    }
    if (batchSeconds > 0.0) {
        fm::bench::recordSummary("numpy_batch_analysis_hour_seconds", batchSeconds);
        fm::bench::recordSummary("analysis_vs_numpy_batch_speedup", batchSeconds / ours);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    recordFigures();
    return 0;
}
