#pragma once
// An AudioEngine on the scripted input, with its documents folder in a fresh temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEngine.h"
#include "audio/SignalState.h"
#include "platform/documents/DocumentsFolder.h"
#include "recording/RecordingState.h"

namespace fm::test {

inline std::filesystem::path freshTempFolder(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    const auto path = std::filesystem::temp_directory_path() /
                      ("fm-" + tag + "-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

inline void resetSignalState() {
    for (auto& v : fm::audio::waveformSamples) {
        v.store(0.0);
    }
    for (auto& v : fm::audio::spectrumPower) {
        v.store(0.0f);
    }
    fm::audio::rmsValue.store(0.0);
    fm::audio::sensitivityGain.store(1.0f);
    fm::audio::baseLevel.store(0.0f);
    fm::recording::recordingActive.store(0);
}

inline std::vector<std::int16_t> constantBlock(std::size_t frames, std::int16_t value) {
    return std::vector<std::int16_t>(frames, value);
}

// Sample j of the block is j + offset (wrapping within 16 bits).
inline std::vector<std::int16_t> rampBlock(std::size_t frames, int offset = 0) {
    std::vector<std::int16_t> block(frames);
    for (std::size_t j = 0; j < frames; ++j) {
        block[j] = static_cast<std::int16_t>(static_cast<int>(j) + offset);
    }
    return block;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = freshTempFolder("engine");
        fm::platform::setDocumentsFolder(folder_.string());
        resetSignalState();
        script_ = std::make_shared<fm::platform::ScriptedInput>();
        engine_ = std::make_unique<fm::audio::AudioEngine>();
        engine_->setAudioInputSource(fm::platform::AudioInputSource::scripted(script_));
        engine_->FFTSetup();
    }
    void TearDown() override {
        engine_.reset();
        fm::recording::recordingActive.store(0);
        fm::platform::setDocumentsFolder("");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    // Starts the engine, keeping its console lines out of the test output.
    void start() {
        ::testing::internal::CaptureStderr();
        engine_->initializeOutputUnit();
        startLog_ = ::testing::internal::GetCapturedStderr();
    }
    void stop() {
        ::testing::internal::CaptureStdout();
        engine_->stopRecording();
        stopLog_ = ::testing::internal::GetCapturedStdout();
        engine_->mAudioUnit = nullptr;
    }
    void deliver(std::vector<std::int16_t> block) {
        script_->addBlock(std::move(block));
        ASSERT_TRUE(script_->deliverNextBlock());
    }
    std::vector<double> snapshot() const {
        std::vector<double> out;
        for (const auto& v : fm::audio::waveformSamples) {
            out.push_back(v.load());
        }
        return out;
    }
    std::string cleanPath() const { return (folder_ / "output2.caf").string(); }

    std::filesystem::path folder_;
    std::shared_ptr<fm::platform::ScriptedInput> script_;
    std::unique_ptr<fm::audio::AudioEngine> engine_;
    std::string startLog_;
    std::string stopLog_;
};

}  // namespace fm::test
