// End to end: a real PulseAudio server whose default source is a FIFO (started by
// scripts/with-sound-server.sh), RtAudio capture, the engine, and the recording read back.
// A known signal goes into the FIFO; the level and the recorded file must match it exactly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "audio/AudioEngine.h"
#include "audio/FileReaders.h"
#include "audio/SignalState.h"
#include "platform/documents/DocumentsFolder.h"
#include "recording/RecordingState.h"

namespace fm::test {
namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

// Writes all samples into the FIFO within the deadline (the server reads at real-time pace).
bool writeSamples(int fd, const std::vector<std::int16_t>& samples, clock_type::time_point deadline,
                  std::string* error) {
    const auto* bytes = reinterpret_cast<const char*>(samples.data());
    std::size_t left = samples.size() * sizeof(std::int16_t);
    while (left > 0) {
        if (clock_type::now() > deadline) {
            *error = "the sound server stopped reading the FIFO";
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = ::write(fd, bytes, left);
        if (n < 0) {
            if (errno == EAGAIN) {
                continue;
            }
            *error = std::string("write: ") + std::strerror(errno);
            return false;
        }
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Where `needle` starts inside `hay`, or npos.
std::size_t findRun(const std::vector<std::int16_t>& hay, const std::vector<std::int16_t>& needle) {
    const auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : static_cast<std::size_t>(it - hay.begin());
}

TEST(CaptureFromSoundServer, LevelAndRecordingMatchTheSignal) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    const auto folder =
        std::filesystem::temp_directory_path() / ("fm-e2e-capture-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    fm::platform::setDocumentsFolder(folder.string());

    std::string reason;
    ASSERT_TRUE(fm::platform::canOpenMicrophone("", &reason)) << reason;
    std::string listError;
    const auto devices = fm::platform::listCaptureDevices(&listError);
    EXPECT_FALSE(devices.empty()) << listError;

    // 2 s of ±10000 with pseudo-random signs: every whole block inside it has an RMS of exactly
    // 10000, and the sign pattern pins down where it lies in the recording.
    std::vector<std::int16_t> signal(88200);
    std::mt19937 rng(42);
    for (auto& s : signal) {
        s = (rng() & 1) != 0 ? 10000 : -10000;
    }

    fm::audio::AudioEngine engine;
    engine.setAudioInputSource(fm::platform::AudioInputSource::microphone());
    engine.FFTSetup();
    fm::audio::sensitivityGain.store(1.0f);
    fm::audio::baseLevel.store(0.0f);
    fm::recording::recordingActive.store(1);
    ::testing::internal::CaptureStderr();
    engine.initializeOutputUnit();
    const std::string startLog = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(startLog.find("Error:"), std::string::npos) << startLog;
    ASSERT_TRUE(engine.mAudioUnit->isRunning());

    const int fd = ::open(fifo, O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const auto deadline = clock_type::now() + 60s;
    bool sawLevel = false;
    std::string writeError;
    std::atomic<bool> stopped{false};
    std::thread writer([&] {
        // The pipe source takes data as fast as it comes: feed it at real-time pace, like a
        // microphone, in 50 ms pieces; after the signal, silence pushes its last partial block
        // through and keeps the source flowing until capture has stopped (RtAudio's Pulse stop
        // waits for the read in progress).
        constexpr std::size_t piece = 2205;
        const std::vector<std::int16_t> silence(piece, 0);
        auto due = clock_type::now();
        for (std::size_t at = 0; !stopped.load(); at += piece) {
            std::vector<std::int16_t> chunk = silence;
            if (at < signal.size()) {
                chunk.assign(
                    signal.begin() + static_cast<long>(at),
                    signal.begin() + static_cast<long>(std::min(at + piece, signal.size())));
            }
            if (!writeSamples(fd, chunk, deadline, &writeError)) {
                return;
            }
            due += 50ms;
            std::this_thread::sleep_until(due);
        }
    });
    std::vector<std::int16_t> recorded;
    std::size_t at = std::string::npos;
    while (clock_type::now() < deadline) {
        sawLevel = sawLevel || fm::audio::rmsValue.load() == 10000.0;
        engine.flushRecordingFile();
        const ReadBack now = readWithLibsndfile(engine.mAudioFileRefClean->path());
        if (now.ok) {
            recorded = now.samples;
            at = findRun(recorded, signal);
        } else {
            std::fprintf(stderr, "read while recording: %s\n", now.description.c_str());
        }
        if (at != std::string::npos && sawLevel) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    fm::recording::recordingActive.store(0);
    ::testing::internal::CaptureStdout();
    engine.stopRecording();
    ::testing::internal::GetCapturedStdout();
    stopped.store(true);
    writer.join();
    ::close(fd);
    engine.mAudioUnit = nullptr;

    EXPECT_TRUE(writeError.empty()) << writeError;
    EXPECT_TRUE(sawLevel) << "the level never read 10000";
    ASSERT_NE(at, std::string::npos)
        << "the signal is not in the recording (" << recorded.size() << " samples recorded)";
    // Everything around the signal is the FIFO's silence: nothing else got in.
    const std::string path = (folder / "output2.caf").string();
    const ReadBack independent = readWithPythonCafParser(path);
    ASSERT_TRUE(independent.ok) << independent.description;
    const std::size_t start = findRun(independent.samples, signal);
    ASSERT_NE(start, std::string::npos);
    for (std::size_t i = 0; i < independent.samples.size(); ++i) {
        if (i < start || i >= start + signal.size()) {
            ASSERT_EQ(independent.samples[i], 0) << "sample " << i;
        }
    }
    fm::platform::setDocumentsFolder("");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace fm::test
