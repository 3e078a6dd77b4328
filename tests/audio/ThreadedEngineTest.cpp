// The engine with its audio on real threads: the scripted input from a thread of the test, and
// the file and demo inputs on their own delivery threads. Runs under ThreadSanitizer too.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "audio/EngineFixture.h"
#include "audio/FileReaders.h"
#include "measure/Measurement.h"
#include "platform/audio/BlockSourceInputUnit.h"

namespace fm::test {
namespace {

using namespace std::chrono_literals;

// Polls `done` until it holds or the deadline passes.
template <typename F>
bool waitFor(F done, std::chrono::seconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class ThreadedEngineTest : public EngineTest {};

TEST_F(ThreadedEngineTest, MainThreadChangesSettingsWhileTheAudioThreadRuns) {
    start();
    for (int i = 0; i < 2000; ++i) {
        script_->addBlock(constantBlock(1024, 1000));
    }
    // The audio thread starts once the main thread is in its loop, and the loop goes on until
    // the blocks are all delivered and it has read a result: the two always overlap.
    std::atomic<bool> mainLooping{false};
    std::thread audio([&] {
        while (!mainLooping.load()) {
            std::this_thread::yield();
        }
        script_->deliverAll();
    });
    // The main thread moves gain, base and the recording flag and reads the results meanwhile.
    double seen = 0.0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (int i = 0; (script_->blocksQueued() > 0 || seen == 0.0) &&
                    std::chrono::steady_clock::now() < deadline;
         ++i) {
        mainLooping.store(true);
        fm::audio::sensitivityGain.store(i % 2 == 0 ? 1.0f : 2.0f);
        fm::audio::baseLevel.store(static_cast<float>(i % 10));
        fm::recording::recordingActive.store(i % 3 == 0 ? 1 : 0);
        seen += fm::audio::rmsValue.load() + fm::audio::waveformSamples[i % 320].load() +
                fm::audio::spectrumPower[i % 320].load();
        std::this_thread::yield();
    }
    audio.join();
    fm::recording::recordingActive.store(0);
    stop();
    EXPECT_GT(seen, 0.0);
    // Every recorded block is whole.
    const ReadBack back = readWithLibsndfile(cleanPath());
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.samples.size() % 1024, 0u);
    for (const std::int16_t v : back.samples) {
        ASSERT_EQ(v, 1000);
    }
}

TEST_F(ThreadedEngineTest, FileInputIsRecordedSampleForSample) {
    // A 3.5 s input file of known samples (not a multiple of the block size).
    const std::string input = (folder_ / "input.wav").string();
    std::vector<std::int16_t> samples(44100 * 7 / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>((i * 7919) % 65536 - 32768);
    }
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(input.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(f);
    }
    engine_->setAudioInputSource(
        fm::platform::AudioInputSource::file(input, fm::platform::DeliveryPace::AsFastAsPossible));
    fm::recording::recordingActive.store(
        1);  // raised before the start: the first block is recorded
    start();
    auto* unit = dynamic_cast<fm::platform::BlockSourceInputUnit*>(engine_->mAudioUnit);
    ASSERT_NE(unit, nullptr);
    ASSERT_TRUE(waitFor([&] { return unit->finished(); }));
    fm::recording::recordingActive.store(0);
    stop();
    EXPECT_EQ(readWithLibsndfile(cleanPath()).samples, samples);
    EXPECT_EQ(unit->blocksDelivered(), (samples.size() + 1023) / 1024);
}

TEST_F(ThreadedEngineTest, FloatFilesPlayAtTheirRealLevel) {
    // Floating-point files hold -1 … 1; a peak of 0.705 is 0.705 of full scale, not silence.
    std::vector<double> wave(4410);
    for (std::size_t i = 0; i < wave.size(); ++i) {
        wave[i] = 0.705 * std::sin(2.0 * M_PI * 441.0 * static_cast<double>(i) / 44100.0);
    }
    for (const int subtype : {SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE}) {
        SCOPED_TRACE(subtype == SF_FORMAT_FLOAT ? "32-bit float" : "64-bit float");
        const std::string input = (folder_ / "float.wav").string();
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | subtype;
        SNDFILE* f = sf_open(input.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_write_double(f, wave.data(), static_cast<sf_count_t>(wave.size()));
        sf_close(f);
        engine_->setAudioInputSource(fm::platform::AudioInputSource::file(
            input, fm::platform::DeliveryPace::AsFastAsPossible));
        fm::recording::recordingActive.store(1);
        start();
        auto* unit = dynamic_cast<fm::platform::BlockSourceInputUnit*>(engine_->mAudioUnit);
        ASSERT_NE(unit, nullptr);
        ASSERT_TRUE(waitFor([&] { return unit->finished(); }));
        fm::recording::recordingActive.store(0);
        stop();
        const auto recorded = readWithLibsndfile(cleanPath()).samples;
        ASSERT_EQ(recorded.size(), wave.size());
        for (std::size_t i = 0; i < wave.size(); ++i) {
            ASSERT_NEAR(recorded[i], wave[i] * 32768.0, 1.0) << "sample " << i;
        }
    }
}

TEST_F(ThreadedEngineTest, DemoInputDrivesTheMetersUntilStopped) {
    engine_->setAudioInputSource(
        fm::platform::AudioInputSource::demo(fm::platform::DeliveryPace::AsFastAsPossible));
    start();
    auto* unit = dynamic_cast<fm::platform::BlockSourceInputUnit*>(engine_->mAudioUnit);
    ASSERT_NE(unit, nullptr);
    ASSERT_TRUE(waitFor([&] { return unit->blocksDelivered() > 50; }));
    stop();
    const auto delivered = unit->blocksDelivered();
    EXPECT_GT(fm::audio::rmsValue.load(), 0.0);
    float total = 0.0f;
    for (const auto& v : fm::audio::spectrumPower) {
        total += v.load();
    }
    EXPECT_GT(total, 0.0f);
    // Stopped means stopped: no block arrives afterwards.
    const double level = fm::audio::rmsValue.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(unit->blocksDelivered(), delivered);
    EXPECT_EQ(fm::audio::rmsValue.load(), level);
}

// Overload is seen where the input still has it: in one channel before the mix, in a sample
// that is no number (which is kept out of the filters), before the resampler.
TEST_F(ThreadedEngineTest, OverloadIsSeenInEveryChannelAndEveryKindOfSampleAndNaNIsNoSilence) {
    auto& meter = fm::measure::measurement().meter();
    const std::string input = (folder_ / "input.wav").string();
    // Plays the frames as a file to its end: the overloaded samples counted, the LAF at the end.
    auto play = [&](int channels, int rate, int format, const std::vector<float>& frames) {
        SF_INFO info{0, rate, channels, SF_FORMAT_WAV | format, 0, 0};
        SNDFILE* f = sf_open(input.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        sf_writef_float(f, frames.data(), static_cast<sf_count_t>(frames.size()) / channels);
        sf_close(f);
        fm::measure::measurement().settle();  // what earlier tests fed is not counted here
        const std::uint64_t before = meter.read().overloadSamples;
        engine_->setAudioInputSource(fm::platform::AudioInputSource::file(
            input, fm::platform::DeliveryPace::AsFastAsPossible));
        start();
        auto* unit = dynamic_cast<fm::platform::BlockSourceInputUnit*>(engine_->mAudioUnit);
        EXPECT_TRUE(unit != nullptr && waitFor([&] { return unit->finished(); }));
        stop();
        fm::measure::measurement().settle();
        return std::pair(meter.read().overloadSamples - before, meter.read().LAF);
    };
    // 16-bit stereo: 100 full-scale samples on the left, the right silent (the mix is half scale).
    std::vector<float> stereo(2 * 44100, 0.0f);
    for (std::size_t i = 0; i < 100; ++i) {
        stereo[2 * (1000 + 7 * i)] = 1.0f;
    }
    EXPECT_EQ(play(2, 44100, SF_FORMAT_PCM_16, stereo).first, 100u);

    // Float, at 44.1 and at 48 kHz: 2 s of 1 kHz at -20 dBFS with +Inf, -Inf and NaN inside.
    for (const int rate : {44100, 48000}) {
        SCOPED_TRACE(rate);
        std::vector<float> tone(2 * static_cast<std::size_t>(rate));
        for (std::size_t i = 0; i < tone.size(); ++i) {
            tone[i] = static_cast<float>(0.1 * std::sin(2 * M_PI * 1000.0 * i / rate));
        }
        tone[rate / 4] = INFINITY;
        tone[rate / 3] = -INFINITY;
        tone[rate / 2] = NAN;
        const auto [overloaded, laf] = play(1, rate, SF_FORMAT_FLOAT, tone);
        EXPECT_EQ(overloaded, 3u);
        EXPECT_NEAR(laf, -20.0, 0.1);  // measured on after them
    }
}

// A microphone that was lost and cannot be started again is still lost, not "none".
TEST_F(ThreadedEngineTest, ALostMicrophoneThatCannotBeStartedAgainStaysLost) {
    start();
    ASSERT_TRUE(script_->endInput(fm::platform::InputEnd::Lost, "unplugged"));
    engine_->noteInputStopped(fm::platform::InputEnd::Lost);
    engine_->setAudioInputSource(fm::platform::AudioInputSource::microphone("fm-no-such-device"));
    EXPECT_FALSE(engine_->restartCapture());
    EXPECT_EQ(fm::measure::measurement().input(), fm::measure::InputKind::Lost);
    stop();
}

}  // namespace
}  // namespace fm::test
