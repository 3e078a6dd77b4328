// A measurement microphone's calibration file: read as the files that come with the units are
// written, refused with the line at fault, and taken out of the sound before it is measured.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "measure/Decibels.h"
#include "measure/Measurement.h"
#include "measure/MicCorrection.h"

namespace fm::measure {
namespace {

namespace fs = std::filesystem;

const fs::path dir = fs::temp_directory_path() / ("fm-mic-" + std::to_string(::getpid()));
struct RemovedAtExit {
    ~RemovedAtExit() { fs::remove_all(dir); }
} removedAtExit;

std::string writeFile(const std::string& name, const std::string& text) {
    fs::create_directories(dir);
    std::ofstream(dir / name) << text;
    return (dir / name).string();
}

// A unit's file: its sensitivity, comments, tabs, and a response like a small capsule's.
const char* kUnitFile =
    "\"Sens Factor =-1.378dB, AGain =18dB, SERNO: 7000001\"\r\n"
    "* measured at 90 degrees\r\n"
    "10\t-2.5\n20\t-1.0\n50\t-0.3\n100\t0\n1000\t0.0\n5000\t0.5\n"
    "10000  1.8\n13000 2.6\n16000 1.0\n20000 -2.0\n";

TEST(MicCorrection, AUnitsFileIsReadAndItsInverseIsMetWithinTwoTenthsOfADecibel) {
    std::string error;
    const auto response = readMicResponse(writeFile("unit.txt", kUnitFile), &error);
    ASSERT_TRUE(response) << error;
    ASSERT_TRUE(response->sensFactorDb);
    EXPECT_DOUBLE_EQ(*response->sensFactorDb, -1.378);
    EXPECT_NEAR(micFileOffsetDb(*response->sensFactorDb), 113.378, 1e-9);
    ASSERT_EQ(response->points.size(), 10u);
    // Straight over log frequency between the points: 14.14 Hz lies half-way from 10 to 20 Hz.
    EXPECT_NEAR(response->at(std::sqrt(200.0)), -1.75, 1e-9);
    EXPECT_EQ(response->at(5.0), -2.5);

    MicCorrection filter(*response, 44100.0);
    for (double hz = 20.0; hz <= 16000.0; hz *= std::pow(2.0, 1.0 / 24.0)) {
        EXPECT_NEAR(filter.gainDb(hz), -response->at(hz), 0.2) << hz << " Hz";
    }
    // A stopped input leaves nothing ringing into the next.
    const std::vector<float> loud(1024, 0.5f), quiet(1024, 0.0f);
    filter.apply(loud.data(), 1024);
    filter.forget();
    const float* after = filter.apply(quiet.data(), 1024);
    EXPECT_TRUE(std::all_of(after, after + 1024, [](float x) { return x == 0.0f; }));
}

TEST(MicCorrection, AFileThatDoesNotParseIsRefusedWithItsLine) {
    const struct {
        const char* text;
        const char* said;
    } cases[] = {
        {"\"Sens Factor =-1.4dB\"\n100 0\n1000 0.5 12 7\n", "bad.txt line 3: \"1000 0.5 12 7\""},
        {"* x\n100 0\n\n50 0.5\n", "bad.txt line 4: \"50 0.5\": the frequencies must rise"},
        {"100 0\n200 O.5\n", "bad.txt line 2: \"200 O.5\" is not a frequency"},
        {"\"Sens Factor = n/a\"\n100 0\n", "bad.txt line 1:"},
        {"* nothing\n", "bad.txt: no line of a frequency"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(readMicResponse(writeFile("bad.txt", c.text), &error)) << c.text;
        EXPECT_EQ(error.find(c.said), 0u) << error;
    }
}

// The mean square of one second of a sine at `hz` (peak `amplitude`, with full-scale samples
// every 1000th frame when `clipped`), measured with `correction`.
SecondRecord measuredSecond(double hz, double amplitude, std::unique_ptr<MicCorrection> correction,
                            bool clipped = false) {
    Measurement m;
    m.setMicCorrection(std::move(correction));
    m.start();
    m.setInput(InputKind::Mic);
    std::vector<float> block(1024);
    long frame = 0;
    SecondRecord second;
    for (int seconds = 0; seconds < 2;) {
        for (float& s : block) {
            s = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * frame / 44100.0));
            if (clipped && frame % 1000 == 0) {
                s = 1.0f;
            }
            ++frame;
        }
        m.feed(block.data(), 1024);
        m.settle();
        seconds += m.takeSecond(&second) ? 1 : 0;  // the second one: the filter long settled
    }
    return second;
}

TEST(MicCorrection, ATableSixDecibelsUpFrom4kHzReadsAn8kHzToneSixLowerAnd500HzAsItWas) {
    std::string error;
    const auto response =
        readMicResponse(writeFile("step.txt", "20 0\n3000 0\n4000 6\n20000 6\n"), &error);
    ASSERT_TRUE(response) << error;
    for (const auto& [hz, change] : {std::pair{8000.0, -6.0}, std::pair{500.0, 0.0}}) {
        const SecondRecord raw = measuredSecond(hz, 0.1, nullptr);
        const SecondRecord corrected =
            measuredSecond(hz, 0.1, std::make_unique<MicCorrection>(*response, 44100.0));
        EXPECT_NEAR(meanSquareToDb(corrected.meanSquareZ) - meanSquareToDb(raw.meanSquareZ), change,
                    0.2)
            << hz;
        const std::size_t band = hz == 8000.0 ? 26 : 14;  // 8 kHz, 500 Hz
        EXPECT_NEAR(meanSquareToDb(corrected.bandMeanSquare[band]) -
                        meanSquareToDb(raw.bandMeanSquare[band]),
                    change, 0.2)
            << hz;
    }
    // Overload stays the input's: a boost does not make one, a clipped sample stays one.
    const auto boost = readMicResponse(writeFile("boost.txt", "100 -6\n"), &error);
    ASSERT_TRUE(boost);
    EXPECT_EQ(measuredSecond(1000.0, 0.9, std::make_unique<MicCorrection>(*boost, 44100.0))
                  .overloadSamples,
              0u);
    EXPECT_EQ(measuredSecond(1000.0, 0.5, std::make_unique<MicCorrection>(*boost, 44100.0), true)
                  .overloadSamples,
              44u);  // frames 45,000 to 88,000 of the second second
}

}  // namespace
}  // namespace fm::measure
