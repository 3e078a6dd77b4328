#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <limits>

#include "recording/RawMotionTestSupport.h"
#include "recording/RawMotionWav.h"

namespace fm::test {
namespace {

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t le16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// The samples expected for a series: each value held for trunc(step * 44.1) samples, the last
// value not at all, negative steps contributing nothing.
std::vector<short> heldSamples(const std::vector<short>& pcm, const std::vector<double>& times) {
    std::vector<short> out;
    for (std::size_t i = 0; i + 1 < times.size(); ++i) {
        const auto k = static_cast<std::int32_t>((times[i + 1] - times[i]) * 44.1);
        out.insert(out.end(), std::max(k, 0), pcm[i]);
    }
    return out;
}

class WavConversion : public RawMotionTest {
  protected:
    std::filesystem::path outPath() const { return folder_ / "rawAccel.out"; }

    std::string convert() {
        ::testing::internal::CaptureStdout();
        fm::recording::writeRawAccelDataToFile();
        return ::testing::internal::GetCapturedStdout();
    }

    // The file's samples as libsndfile reads them; also checks it sees 16-bit mono 44.1 kHz.
    std::vector<short> readWithSndfile() const {
        SF_INFO info{};
        SNDFILE* f = sf_open(outPath().c_str(), SFM_READ, &info);
        EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
        if (f == nullptr) {
            return {};
        }
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.samplerate, 44100);
        std::vector<short> samples(static_cast<std::size_t>(info.frames));
        EXPECT_EQ(sf_read_short(f, samples.data(), info.frames), info.frames);
        sf_close(f);
        return samples;
    }

    // The file's samples as sox decodes them, independently of libsndfile.
    std::vector<short> readWithSox() const {
        const std::string raw = run("sox '" + outPath().string() + "' -t raw -e signed -b 16 -L -");
        std::vector<short> samples(raw.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<short>(static_cast<unsigned char>(raw[2 * i]) |
                                            static_cast<unsigned char>(raw[2 * i + 1]) << 8);
        }
        return samples;
    }

    void expectFileHolds(const std::vector<short>& expected) {
        const auto bytes = readBytes(outPath());
        ASSERT_EQ(bytes.size(), 44 + 2 * expected.size());
        EXPECT_EQ(le32(bytes, 40), 2 * expected.size());
        EXPECT_EQ(le32(bytes, 4), 2 * expected.size() + 36);
        EXPECT_EQ(readWithSndfile(), expected);
        EXPECT_EQ(readWithSox(), expected);
    }
};

TEST_F(WavConversion, HeaderIsLaidOutFieldByField) {
    setSeries({1.0, -1.0, 0.5}, {0.0, 10.0, 20.0});
    convert();
    const auto b = readBytes(outPath());
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(le32(b, 4), 36u + 2 * 882);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(b, 16), 16u);
    EXPECT_EQ(le16(b, 20), 1u);
    EXPECT_EQ(le16(b, 22), 1u);
    EXPECT_EQ(le32(b, 24), 44100u);
    EXPECT_EQ(le32(b, 28), 88200u);
    EXPECT_EQ(le16(b, 32), 2u);
    EXPECT_EQ(le16(b, 34), 16u);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(le32(b, 40), 2u * 882);
    EXPECT_EQ(fm::recording::rawFilePath, outPath().string());
}

TEST_F(WavConversion, WriteIntBytesOrdersBytesBothWays) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(fm::recording::writeIntBytes(0x11223344u, f, false, 4));
    ASSERT_TRUE(fm::recording::writeIntBytes(0x11223344u, f, true, 4));
    ASSERT_TRUE(fm::recording::writeIntBytes(0xABCDu, f, false, 2));
    ASSERT_TRUE(fm::recording::writeIntBytes(0xABCDu, f, true, 2));
    std::rewind(f);
    unsigned char b[12];
    ASSERT_EQ(std::fread(b, 1, 12, f), 12u);
    std::fclose(f);
    const unsigned char expected[12] = {0x44, 0x33, 0x22, 0x11, 0x11, 0x22,
                                        0x33, 0x44, 0xCD, 0xAB, 0xAB, 0xCD};
    EXPECT_EQ(std::vector<unsigned char>(b, b + 12),
              std::vector<unsigned char>(expected, expected + 12));
}

TEST_F(WavConversion, ShortSeriesGiveHeaderOnlyOrEverySample) {
    for (int n : {0, 1}) {
        setSeries(std::vector<double>(n, 3.0), std::vector<double>(n, 5.0));
        EXPECT_EQ(convert(), "starting second runthrough") << n;
        expectFileHolds({});
    }
    // Two samples: the first one's run is written (nothing is dropped).
    setSeries({3.0, 1.0}, {0.0, 10.0});
    convert();
    expectFileHolds(std::vector<short>(441, 32767));
}

TEST_F(WavConversion, StepsBecomeRunsOfHeldSamples) {
    // 10 ms -> 441 samples, 1 ms -> 44 (fraction dropped), 0 ms -> none, 200 ms gap whole.
    const std::vector<double> times = {0.0, 10.0, 11.0, 12.0, 12.0, 212.0, 213.0};
    setSeries({10.0, -10.0, 5.0, 9.0, 2.0, -5.0, 7.0}, times);
    convert();
    // Exact halves round upward: 16383.5 -> 16384, -16383.5 -> -16383.
    const std::vector<short> pcm = {32767, -32767, 16384, 0, 6553, -16383, 0};
    const auto expected = heldSamples(pcm, times);
    ASSERT_EQ(expected.size(), 441u + 44 + 44 + 0 + 8820 + 44);
    expectFileHolds(expected);
}

TEST_F(WavConversion, SecondRunWritesTheSameFile) {
    setSeries({0.25, -0.5, 1.0, 0.0}, {100.0, 120.0, 130.5, 140.0});
    convert();
    const auto first = readBytes(outPath());
    convert();
    EXPECT_EQ(readBytes(outPath()), first);
    EXPECT_GT(first.size(), 44u);
}

TEST_F(WavConversion, BadStepsAreReportedAndSkipped) {
    const std::vector<double> times = {0.0, 10.0, 5.0, 15.0, std::nan(""), 30.0, 40.0};
    setSeries({1.0, 2.0, 2.0, 4.0, 5.0, 6.0, 7.0}, times);
    const std::string out = convert();
    // Each pass meets the negative step and the two steps touching the NaN time.
    std::size_t reports = 0;
    for (auto at = out.find("Something went very, very wrong on that sample.");
         at != std::string::npos;
         at = out.find("Something went very, very wrong on that sample.", at + 1)) {
        ++reports;
    }
    EXPECT_EQ(reports, 6u);
    std::vector<short> expected(441, 5461);       // 1.0 of max 6.0
    expected.insert(expected.end(), 441, 10922);  // 2.0 from 5 ms to 15 ms
    expected.insert(expected.end(), 441, 32767);  // 6.0 from 30 ms to 40 ms
    expectFileHolds(expected);
}

TEST_F(WavConversion, NonFiniteAndSilentValuesWriteZeros) {
    const double inf = std::numeric_limits<double>::infinity();
    setSeries({std::nan(""), inf, -inf, 2.0, 0.0}, {0.0, 1.0, 2.0, 3.0, 4.0});
    convert();
    std::vector<short> expected(3 * 44, 0);  // NaN and both infinities count as 0.0
    expected.insert(expected.end(), 44, 32767);
    expectFileHolds(expected);
    // All zeros: no infinite scale, every sample 0.
    setSeries({0.0, 0.0, 0.0}, {0.0, 1.0, 2.0});
    convert();
    expectFileHolds(std::vector<short>(88, 0));
    // A subnormal largest magnitude still maps to full scale.
    setSeries({-4e-320, 0.0}, {0.0, 1.0});
    convert();
    expectFileHolds(std::vector<short>(44, -32767));
}

TEST_F(WavConversion, LargeMagnitudesAreReportedOncePerNewMaximum) {
    setSeries({40000.0, 35000.0, -50000.0, 1.0}, {0.0, 1.0, 2.0, 3.0});
    const std::string out = convert();
    EXPECT_EQ(out,
              "What the!!! maxval is: 40000.000000What the!!! maxval is: 50000.000000"
              "starting second runthrough");
}

TEST_F(WavConversion, FullDiskIsReportedAndTheProgramCarriesOn) {
    setSeries({1.0, 2.0}, {0.0, 1000.0});
    // A disk that takes no more bytes, in the middle of the long step: a file size limit for
    // this process while it converts (a link to /dev/full is no longer written through).
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ::testing::internal::CaptureStderr();
    convert();
    const std::string err = ::testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(err.find("Could not write to output.: File too large"), std::string::npos) << err;

    // The write failed in the middle of a long step; nothing of it may leak into what follows.
    std::filesystem::remove(outPath());
    fm::recording::rawSamples[0] = 1.0;
    fm::recording::rawSamples[1] = -1.0;
    fm::recording::rawSampleTimes[1] = 10.0;
    fm::recording::rawReadIndex = 0;  // as a caller that only moves the index back would leave it
    double buffer[fm::recording::kExpansionBufferSize];
    std::int32_t count = 0;
    fm::recording::expandNextRawSample(buffer, &count);
    EXPECT_EQ(count, 441);
    convert();
    expectFileHolds(std::vector<short>(441, 32767));
}

TEST_F(WavConversion, PartlyWrittenFileIsRemoved) {
    setSeries({1.0, 2.0}, {0.0, 1000.0});  // 88 KB of samples
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        fm::recording::writeRawAccelDataToFile();
        _exit(std::filesystem::exists(outPath()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the partial file was left behind";
}

TEST_F(WavConversion, UnopenableFileIsReported) {
    std::filesystem::create_directory(outPath());
    setSeries({1.0, 2.0}, {0.0, 10.0});
    ::testing::internal::CaptureStderr();
    convert();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Could not open " + outPath().string() + ": Is a directory"),
              std::string::npos)
        << err;
}

TEST_F(WavConversion, LongStepsSpanSeveralBufferLoads) {
    setSeries({1.0, -1.0}, {0.0, 300.0});  // 13230 samples, well over one buffer
    double buffer[fm::recording::kExpansionBufferSize];
    std::vector<std::int32_t> counts;
    std::int32_t count = 0;
    for (fm::recording::expandNextRawSample(buffer, &count); count != -1;
         fm::recording::expandNextRawSample(buffer, &count)) {
        counts.push_back(count);
    }
    EXPECT_EQ(counts, (std::vector<std::int32_t>{5000, 5000, 3230}));
    EXPECT_EQ(fm::recording::rawReadIndex, 1);
    convert();
    expectFileHolds(std::vector<short>(13230, 32767));
}

}  // namespace
}  // namespace fm::test
