// The render callback: snapshot, level, render failures, recording, console lines.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "audio/EngineFixture.h"
#include "audio/FileReaders.h"

namespace fm::test {
namespace {

using fm::platform::statusCode;

class CallbackTest : public EngineTest {};

TEST_F(CallbackTest, SnapshotStrideFollowsBlockLength) {
    start();
    struct Case {
        std::size_t frames;
        std::size_t stride;
    };
    for (const Case c :
         {Case{1024, 3}, Case{640, 2}, Case{639, 1}, Case{500, 1}, Case{320, 1}, Case{16384, 51}}) {
        deliver(rampBlock(c.frames, 7));
        const auto snap = snapshot();
        for (std::size_t k = 0; k < snap.size(); ++k) {
            ASSERT_EQ(snap[k], static_cast<double>(static_cast<std::int16_t>(k * c.stride + 7)))
                << c.frames << " frames, element " << k;
        }
    }
    // The last element of a 1024-frame block is sample 957.
    deliver(rampBlock(1024));
    EXPECT_EQ(fm::audio::waveformSamples[319].load(), 957.0);
}

TEST_F(CallbackTest, ShortBlockSpansTheSnapshotAndEmptyBlockChangesNothing) {
    start();
    deliver(rampBlock(100, 1000));
    for (std::size_t k = 0; k < 320; ++k) {
        ASSERT_EQ(fm::audio::waveformSamples[k].load(), 1000.0 + static_cast<double>(k * 100 / 320))
            << k;
    }
    EXPECT_EQ(fm::audio::waveformSamples[0].load(), 1000.0);
    EXPECT_EQ(fm::audio::waveformSamples[319].load(), 1099.0);
    const double level = fm::audio::rmsValue.load();
    EXPECT_GT(level, 0.0);

    const auto before = snapshot();
    const std::uint32_t index = engine_->index2;
    deliver({});  // 0 frames: no division by zero, nothing moves
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(fm::audio::rmsValue.load(), level);
    EXPECT_EQ(engine_->index2, index);
    EXPECT_FALSE(std::isnan(fm::audio::rmsValue.load()));
}

TEST_F(CallbackTest, LevelIsRmsTimesGainMinusBaseNeverNegative) {
    start();
    fm::audio::baseLevel.store(1.0f);
    deliver(constantBlock(1024, 0));
    EXPECT_EQ(fm::audio::rmsValue.load(), 0.0);  // r = −1.0 is clamped

    fm::audio::baseLevel.store(0.0f);
    std::vector<std::int16_t> square(1024);
    for (std::size_t j = 0; j < square.size(); ++j) {
        square[j] = (j / 7) % 2 == 0 ? 32767 : -32767;
    }
    deliver(square);
    EXPECT_EQ(fm::audio::rmsValue.load(), 32767.0);

    // RMS of ±300 is 300: 300 × 2.5 − 50 = 700.
    fm::audio::sensitivityGain.store(2.5f);
    fm::audio::baseLevel.store(50.0f);
    std::vector<std::int16_t> alternating(940);
    for (std::size_t j = 0; j < alternating.size(); ++j) {
        alternating[j] = j % 2 == 0 ? 300 : -300;
    }
    deliver(alternating);
    EXPECT_EQ(fm::audio::rmsValue.load(), 700.0);

    // Full-scale negative samples square to 2^30 without overflow.
    fm::audio::sensitivityGain.store(1.0f);
    fm::audio::baseLevel.store(0.0f);
    deliver(constantBlock(333, -32768));
    EXPECT_EQ(fm::audio::rmsValue.load(), 32768.0);
}

TEST_F(CallbackTest, RenderErrorLeavesEverythingAndPrintsWithoutLineEnd) {
    start();
    deliver(rampBlock(1024, 5));
    const double level = fm::audio::rmsValue.load();
    const auto before = snapshot();
    const std::uint32_t index = engine_->index2;

    fm::recording::recordingActive.store(1);
    script_->addBlock(constantBlock(1024, 9999));
    script_->addBlock(constantBlock(1024, 9999));
    script_->failRenderOf(1, -10863);
    script_->failRenderOf(2, statusCode("!dat"));
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(script_->deliverNextBlock());
    ASSERT_TRUE(script_->deliverNextBlock());
    const std::string out = ::testing::internal::GetCapturedStdout();
    // Consecutive errors run together on one line.
    EXPECT_EQ(out, "AudioUnitRender error: -10863AudioUnitRender error: " +
                       std::to_string(statusCode("!dat")));
    EXPECT_EQ(fm::audio::rmsValue.load(), level);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(engine_->index2, index);

    // The next block is processed normally.
    deliver(constantBlock(1024, 100));
    EXPECT_EQ(fm::audio::rmsValue.load(), 100.0);
    fm::recording::recordingActive.store(0);
    stop();
    const ReadBack back = readWithLibsndfile(cleanPath());
    ASSERT_TRUE(back.ok) << back.description;
    EXPECT_EQ(back.samples, constantBlock(1024, 100)) << "failed renders must not be recorded";
}

TEST_F(CallbackTest, RecordsExactlyTheBlocksWhileRecordingIsActive) {
    start();
    deliver(rampBlock(1024, -20000));  // before: not recorded
    fm::recording::recordingActive.store(1);
    std::vector<std::int16_t> expected;
    const std::size_t lengths[] = {1024, 940, 17, 0, 2048, 333, 16384};
    int offset = 0;
    for (std::size_t frames : lengths) {
        auto block = rampBlock(frames, offset);
        if (frames > 1) {  // the extremes survive the round trip
            block.front() = -32768;
            block.back() = 32767;
        }
        expected.insert(expected.end(), block.begin(), block.end());
        deliver(block);
        offset += 3001;
    }
    fm::recording::recordingActive.store(0);
    deliver(rampBlock(1024, 12345));  // after: not recorded
    stop();

    const ReadBack lib = readWithLibsndfile(cleanPath());
    ASSERT_TRUE(lib.ok) << lib.description;
    EXPECT_EQ(lib.samples, expected);

    const ReadBack py = readWithPythonCafParser(cleanPath());
    ASSERT_TRUE(py.ok) << py.description;
    EXPECT_NE(py.description.find("rate=44100 format=lpcm"), std::string::npos) << py.description;
    EXPECT_NE(py.description.find("channels=1 bits=16"), std::string::npos) << py.description;
    // Flag 2: little-endian samples.
    EXPECT_NE(py.description.find("flags=2 "), std::string::npos) << py.description;
    EXPECT_EQ(py.samples, expected);

    const ReadBack sox = readWithSox(cleanPath());
    ASSERT_TRUE(sox.ok) << sox.description;
    EXPECT_EQ(sox.samples, expected);

    // "output.wav" is a CAF file that never holds audio.
    const ReadBack empty = readWithPythonCafParser((folder_ / "output.wav").string());
    ASSERT_TRUE(empty.ok) << empty.description;
    EXPECT_TRUE(empty.samples.empty());
}

TEST_F(CallbackTest, FlushMakesQueuedFramesReadableWhileTheFileStaysOpen) {
    start();
    fm::recording::recordingActive.store(1);
    deliver(rampBlock(4000, 1));
    deliver(rampBlock(1024, 2));
    engine_->flushRecordingFile();
    auto expected = rampBlock(4000, 1);
    const auto second = rampBlock(1024, 2);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(readWithLibsndfile(cleanPath()).samples, expected);
    EXPECT_EQ(readWithPythonCafParser(cleanPath()).samples, expected);

    deliver(rampBlock(10, 3));  // still open: later blocks keep landing
    fm::recording::recordingActive.store(0);
    stop();
    EXPECT_EQ(readWithLibsndfile(cleanPath()).samples.size(), expected.size() + 10);
}

TEST_F(CallbackTest, EngineStartLogsPathsAndRestartErasesTheRecording) {
    start();
    const std::string wav = (folder_ / "output.wav").string();
    EXPECT_EQ(startLog_, ">>> " + wav + "\n>>> " + cleanPath() + "\n");
    EXPECT_EQ(fm::audio::recordFileURL, wav);
    EXPECT_EQ(fm::audio::cleanRecordFileURL, cleanPath());
    ASSERT_NE(engine_->mAudioUnit, nullptr);

    fm::recording::recordingActive.store(1);
    deliver(rampBlock(1024));
    stop();
    EXPECT_EQ(stopLog_, "\nstopRecording\nOSStatus(ExtAudioFileDispose): 0\n");
    EXPECT_EQ(readWithLibsndfile(cleanPath()).samples.size(), 1024u);

    // A restart recreates both files before capture resumes; the accumulation carries over.
    const std::uint32_t index = engine_->index2;
    start();
    engine_->flushRecordingFile();
    EXPECT_TRUE(readWithLibsndfile(cleanPath()).samples.empty());
    EXPECT_EQ(engine_->index2, index);
    deliver(rampBlock(512, 9));
    fm::recording::recordingActive.store(0);
    stop();
    EXPECT_EQ(readWithLibsndfile(cleanPath()).samples, rampBlock(512, 9));
}

TEST_F(CallbackTest, UnusableDocumentsFolderKeepsTheMetersRunning) {
    const auto blocker = folder_ / "not-a-folder";
    std::ofstream(blocker) << "x";
    fm::platform::setDocumentsFolder((blocker / "docs").string());
    start();
    // One line names the folder and the reason; the path lines still come.
    EXPECT_NE(startLog_.find("documents folder unusable: " + (blocker / "docs").string() + ": "),
              std::string::npos)
        << startLog_;
    EXPECT_EQ(engine_->mAudioFileRefClean, nullptr);
    fm::recording::recordingActive.store(1);
    deliver(constantBlock(1024, 200));
    EXPECT_EQ(fm::audio::rmsValue.load(), 200.0);
    fm::recording::recordingActive.store(0);
    stop();
    EXPECT_EQ(stopLog_, "\nstopRecording\nOSStatus(ExtAudioFileDispose): -50\n");
}

TEST(CheckStatus, PrintsPrintableCodesQuotedAndOthersAsDecimal) {
    EXPECT_EQ(fm::audio::statusCodeText(statusCode("fmt?")), "'fmt?'");
    EXPECT_EQ(fm::audio::statusCodeText(-50), "-50");
    EXPECT_EQ(fm::audio::statusCodeText(0x41420042), "1094844482");  // 'AB\0B' has a NUL byte

    ::testing::internal::CaptureStderr();
    fm::audio::checkStatus(0, "AudioUnitInitialize");
    fm::audio::checkStatus(statusCode("nodv"), "AudioUnitInitialize");
    fm::audio::checkStatus(-10875, "AudioOutputUnitStart");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: AudioUnitInitialize ('nodv')\nError: AudioOutputUnitStart (-10875)\n");
}

TEST(EngineStartFailure, UnreadableInputIsReportedAndNothingIsCaptured) {
    const auto folder = freshTempFolder("engine");
    fm::platform::setDocumentsFolder(folder.string());
    fm::audio::AudioEngine engine;
    engine.setAudioInputSource(fm::platform::AudioInputSource::file(
        (folder / "missing.wav").string(), fm::platform::DeliveryPace::AsFastAsPossible));
    engine.FFTSetup();
    ::testing::internal::CaptureStderr();
    engine.initializeOutputUnit();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: AudioUnitInitialize ('!fil')\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Error: AudioOutputUnitStart ('init')\n"), std::string::npos) << err;
    EXPECT_NE(err.find("missing.wav"), std::string::npos) << err;
    EXPECT_FALSE(engine.mAudioUnit->isRunning());
    ::testing::internal::CaptureStdout();
    engine.stopRecording();
    ::testing::internal::GetCapturedStdout();
    fm::platform::setDocumentsFolder("");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace fm::test
