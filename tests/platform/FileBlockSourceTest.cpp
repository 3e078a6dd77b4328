// Audio files played through the file source into the level engine, as the program plays them:
// 24-bit tones far below what 16 bits hold, and files at other rates resampled to 44,100 Hz.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "measure/SoundLevels.h"
#include "platform/audio/FileBlockSource.h"
#include "support/ToneFile.h"

namespace fm::test {
namespace {

std::string tempFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("fm-file-source-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

// Plays the whole file into the meter in 1024-frame blocks, calling after(frames so far) after
// each block; returns the frames played.
template <typename After>
std::uint64_t play(const std::string& path, measure::SoundLevelMeter& meter, After after) {
    platform::FileBlockSource source(path, false);
    std::string error;
    EXPECT_TRUE(source.open(&error)) << error;
    std::vector<float> block(1024);
    std::uint64_t frames = 0;
    while (const std::uint32_t got = source.fill(block.data(), 1024)) {
        meter.process(block.data(), got);
        frames += got;
        after(frames);
    }
    return frames;
}

TEST(FileBlockSource, TwentyFourBitTonesReadTheirLevelFarBelowSixteenBits) {
    const std::string path = tempFile("24bit.wav");
    for (const double dbfs : {0.0, -60.0, -100.0, -110.0}) {
        ASSERT_TRUE(writeToneFile(path, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_24, {{2.0, dbfs}}));
        measure::SoundLevelMeter meter;
        play(path, meter, [](std::uint64_t) {});
        EXPECT_NEAR(meter.read().LAeq, dbfs, 0.8) << dbfs << " dBFS";
    }
    std::filesystem::remove(path);
}

// 2 s of a -20 dBFS tone, then 1 s of silence: 3.000 s whatever the file's rate.
TEST(FileBlockSource, OtherRatesArriveResampledWithTheirDurationLevelAndTimeConstants) {
    const std::string path = tempFile("rate.wav");
    for (const int rate : {48000, 96000, 22050}) {
        ASSERT_TRUE(writeToneFile(path, rate, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                                  {{2.0, -20.0}, {1.0, -1000.0}}));
        measure::SoundLevelMeter meter;
        double secondTwo = 0.0;  // LAeq,1s from 1 to 2 s
        std::uint64_t at[2] = {0, 0};
        double laf[2] = {0.0, 0.0};
        const std::uint64_t frames = play(path, meter, [&](std::uint64_t played) {
            const measure::SoundLevelSnapshot s = meter.read();
            if (secondTwo == 0.0 && played >= 88200) {
                secondTwo = s.LAeq1s;
            }
            // The Fast decay between 0.1 and 0.6 s after the tone stops.
            for (int k = 0; k < 2; ++k) {
                if (at[k] == 0 && played >= static_cast<std::uint64_t>(44100 * (2.1 + 0.5 * k))) {
                    at[k] = played;
                    laf[k] = s.LAF;
                }
            }
        });
        std::printf("%d Hz: %llu frames\n", rate, static_cast<unsigned long long>(frames));
        EXPECT_EQ(frames, 132300u) << rate << " Hz";
        EXPECT_NEAR(secondTwo, -20.0, 0.1) << rate << " Hz";
        const double decayDbPerSecond =
            (laf[0] - laf[1]) / (static_cast<double>(at[1] - at[0]) / 44100.0);
        EXPECT_NEAR(decayDbPerSecond, 34.7, 1.0) << rate << " Hz";
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace fm::test
