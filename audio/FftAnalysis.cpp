#include "audio/FftAnalysis.h"

#include <cmath>
#include <cstring>

#include "audio/AudioEngine.h"
#include "audio/SignalState.h"
#include "platform/fft/PackedRealFft.h"

namespace fm::audio {

void AudioEngine::FFTSetup() {
    if (fft_) {
        return;  // made once for the life of the engine
    }
    samples_ = std::make_unique<std::int16_t[]>(2048);
    samplesBuffer = samples_.get();
    logOfN = static_cast<std::int32_t>(std::log2(2048.0));
    n = 1 << logOfN;
    halfN = 1024;
    bufferMaxSamples = 2048;
    index2 = 0;
    realp_ = std::make_unique<float[]>(static_cast<std::size_t>(halfN));
    imagp_ = std::make_unique<float[]>(static_cast<std::size_t>(halfN));
    CSPLIT = {realp_.get(), imagp_.get()};
    fft_ = std::make_unique<fm::platform::PackedRealFft>(logOfN);
    fftSetupObject = fft_.get();
}

void convertBlockToFloat(AudioEngine* /*engine*/, const void* samples, float* floatBlock,
                         std::uint32_t count) {
    // The engine's stream format is always the 16-bit capture format: input units accept no other.
    fm::platform::convertInt16ToFloat(static_cast<const std::int16_t*>(samples), floatBlock, count);
}

void bandPowersFromPacked(const float* realp, const float* imagp, float* power, int bands) {
    // Squares first, in one pass the compiler vectorises; each band then adds its four pair
    // sums in order. Every square and every sum is the same float operation as written out per
    // band, so the result is bit for bit the same, only cheaper.
    constexpr int kMaxBins = 1024;
    const int bins = 2 * bands + 1;  // band b reads bins 2b, 2b+1 and the real part of 2b+2
    if (bands <= 0 || bins > kMaxBins) {
        return;
    }
    float re2[kMaxBins];
    float im2[kMaxBins];
    for (int k = 0; k < bins; ++k) {
        re2[k] = realp[k] * realp[k];
        im2[k] = imagp[k] * imagp[k];
    }
    for (int b = 0; b < bands; ++b) {
        const float y0 = re2[2 * b];
        const float y1 = im2[2 * b];
        const float y2 = re2[2 * b + 1];
        const float y3 = im2[2 * b + 1];
        const float y4 = re2[2 * b + 2];
        float sum = 0.0f;
        sum += y0 + y1;
        sum += y1 + y2;
        sum += y2 + y3;
        sum += y3 + y4;
        power[b] = 0.25f * sum;
    }
}

void analyseSpectrumBlock(AudioEngine& engine, float* floatBlock) {
    convertBlockToFloat(&engine, engine.samplesBuffer, floatBlock, engine.bufferMaxSamples);
    engine.fftSetupObject->forward(floatBlock, engine.CSPLIT.realp, engine.CSPLIT.imagp);
    float power[kGraphPoints];
    bandPowersFromPacked(engine.CSPLIT.realp, engine.CSPLIT.imagp, power, kGraphPoints);
    for (int b = 0; b < kGraphPoints; ++b) {
        spectrumPower[static_cast<std::size_t>(b)].store(power[b], std::memory_order_relaxed);
    }
}

void accumulateSpectrumSamples(AudioEngine& engine, const std::int16_t* samples,
                               std::uint32_t frames) {
    if (engine.samplesBuffer == nullptr || engine.fftSetupObject == nullptr) {
        return;  // FFTSetup has not run: nothing to gather into
    }
    auto* block = static_cast<std::int16_t*>(engine.samplesBuffer);
    const std::uint32_t i = engine.index2;
    const std::uint32_t room = engine.bufferMaxSamples - i;
    if (room > frames) {
        std::memcpy(block + i, samples, frames * sizeof(std::int16_t));
        engine.index2 = i + frames;
        return;
    }
    std::memcpy(block + i, samples, room * sizeof(std::int16_t));
    engine.index2 = 0;
    alignas(fm::platform::PackedRealFft::kInputAlignment) float floatBlock[2048];
    analyseSpectrumBlock(engine, floatBlock);
}

}  // namespace fm::audio
