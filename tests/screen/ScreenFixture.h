#pragma once
// A real ViewController loaded from its layout on the offscreen platform, capturing from the
// scripted audio back end, with a scripted motion source.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>

#include <filesystem>
#include <memory>
#include <optional>

#include "audio/SignalState.h"
#include "platform/audio/AudioInputSource.h"
#include "platform/audio/ScriptedInput.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/motion/DeviceOrientationSource.h"
#include "platform/motion/MotionSource.h"
#include "recording/RecordingState.h"
#include "screen/ViewController.h"
#include "toolkit/AlertView.h"

namespace fm::test {

class ScriptedMotion : public fm::platform::MotionSource {
  public:
    std::optional<fm::platform::Acceleration> acceleration() override { return accel; }
    std::optional<fm::platform::RotationRate> rotationRate() override { return rate; }
    std::optional<double> yaw() override { return yawValue; }
    std::string description() const override { return "scripted"; }
    std::optional<fm::platform::Acceleration> accel;
    std::optional<fm::platform::RotationRate> rate;
    std::optional<double> yawValue;
};

class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        docs_ = std::filesystem::temp_directory_path() /
                ("fm-screen-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(docs_);
        fm::platform::setDocumentsFolder(docs_.string());
        script_ = std::make_shared<fm::platform::ScriptedInput>();
        fm::platform::setAudioInputSource(fm::platform::AudioInputSource::scripted(script_));
        auto motion = std::make_unique<ScriptedMotion>();
        motion_ = motion.get();
        fm::platform::setMotionSource(std::move(motion));
        fm::platform::resetManualTurn();
        fm::platform::DeviceOrientationSource::currentDevice()->setOrientation(
            fm::platform::DeviceOrientationUnknown);
        // Program-wide values start as at process start.
        fm::screen::isTallScreen = 0;
        fm::screen::rotationLocked = 0;
        fm::audio::historyIndex = 0;
        fm::recording::elapsedSeconds = 0;
        fm::audio::showWaveform.store(true);
        fm::audio::rmsValue.store(0.0);
        fm::audio::sensitivityGain.store(0.0f);
        fm::audio::baseLevel.store(0.0f);
        fm::toolkit::AlertView::clearShownAlerts();
    }

    void TearDown() override {
        vc_.reset();
        fm::platform::setMotionSource(nullptr);
        fm::platform::resetManualTurn();
        std::error_code ec;
        std::filesystem::remove_all(docs_, ec);
        fm::platform::setDocumentsFolder("");
    }

    fm::screen::ViewController& load(double screenHeight = 480.0) {
        vc_ = std::make_unique<fm::screen::ViewController>("ViewController", screenHeight);
        vc_->view();
        return *vc_;
    }

    fm::toolkit::SwipeGestureRecognizer* recognizer(
        fm::toolkit::SwipeGestureRecognizer::Direction d) {
        for (auto* r : vc_->swipeRecognizers()) {
            if (r->direction() == d) {
                return r;
            }
        }
        return nullptr;
    }
    void swipeLeft() {
        vc_->handleViewsSwipe(recognizer(fm::toolkit::SwipeGestureRecognizer::Left));
    }
    void swipeRight() {
        vc_->handleViewsSwipe(recognizer(fm::toolkit::SwipeGestureRecognizer::Right));
    }

    std::filesystem::path docs_;
    std::shared_ptr<fm::platform::ScriptedInput> script_;
    ScriptedMotion* motion_ = nullptr;
    std::unique_ptr<fm::screen::ViewController> vc_;
};

}  // namespace fm::test
