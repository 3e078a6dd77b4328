#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "platform/motion/IioMotionSource.h"
#include "platform/motion/MotionManager.h"
#include "platform/motion/ReplayMotionSource.h"

namespace fs = std::filesystem;
using namespace fm::platform;

namespace {

constexpr double kPi = std::numbers::pi;

class TempTree : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("fm-motion-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
        setMotionSource(nullptr);
        resetManualTurn();
    }
    void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    fs::path root_;
};

// A sysfs tree as the kernel lays it out: one accelerometer, one gyroscope, a device that is
// neither.
class IioTree : public TempTree {
  protected:
    void SetUp() override {
        TempTree::SetUp();
        write(root_ / "iio:device0" / "name", "als\n");
        write(root_ / "iio:device0" / "in_illuminance_raw", "12\n");
        const auto accel = root_ / "iio:device1";
        write(accel / "in_accel_x_raw", "0\n");
        write(accel / "in_accel_y_raw", "-512\n");
        write(accel / "in_accel_z_raw", "1024\n");
        write(accel / "in_accel_scale", "0.009576806\n");  // m/s^2 per count: 1024 = 1 g
        const auto gyro = root_ / "iio:device2";
        write(gyro / "in_anglvel_x_raw", "10\n");
        write(gyro / "in_anglvel_y_raw", "20\n");
        write(gyro / "in_anglvel_z_raw", "1000\n");
        write(gyro / "in_anglvel_scale", "0.001\n");  // 1000 counts = 1 rad/s
        write(gyro / "in_anglvel_z_offset", "-500\n");
    }
};

TEST_F(IioTree, ReadsAccelerationInGAndRotationInRadiansPerSecond) {
    double clock = 100.0;
    auto source = IioMotionSource::open(root_.string(), [&] { return clock; });
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->accelerometerPath(), (root_ / "iio:device1").string());
    EXPECT_EQ(source->gyroscopePath(), (root_ / "iio:device2").string());

    auto a = source->acceleration();
    ASSERT_TRUE(a.has_value());
    EXPECT_NEAR(a->x, 0.0, 1e-9);
    EXPECT_NEAR(a->y, -0.5, 1e-6);
    EXPECT_NEAR(a->z, 1.0, 1e-6);

    auto r = source->rotationRate();
    ASSERT_TRUE(r.has_value());
    EXPECT_DOUBLE_EQ(r->x, 0.01);
    EXPECT_DOUBLE_EQ(r->y, 0.02);
    EXPECT_DOUBLE_EQ(r->z, 0.5);  // (1000 - 500) * 0.001

    // The yaw is the z rate integrated between reads; a gap over a second is skipped.
    EXPECT_DOUBLE_EQ(*source->yaw(), 0.0);
    clock += 0.5;
    EXPECT_NEAR(*source->yaw(), 0.25, 1e-12);
    clock += 5.0;
    EXPECT_NEAR(*source->yaw(), 0.25, 1e-12);
    write(root_ / "iio:device2" / "in_anglvel_z_raw", "-9000\n");  // -9.5 rad/s
    clock += 0.5;
    EXPECT_NEAR(*source->yaw(), std::remainder(0.25 - 4.75, 2 * kPi), 1e-9);  // wrapped
}

TEST_F(IioTree, ChangingReadingsAreSeenAndUnreadableOnesGiveNothing) {
    auto source = IioMotionSource::open(root_.string());
    ASSERT_TRUE(source.has_value());
    write(root_ / "iio:device1" / "in_accel_z_raw", "-2048\n");
    EXPECT_NEAR(source->acceleration()->z, -2.0, 1e-6);
    write(root_ / "iio:device1" / "in_accel_z_raw", "garbage\n");
    EXPECT_FALSE(source->acceleration().has_value());
    fs::remove(root_ / "iio:device2" / "in_anglvel_z_raw");
    EXPECT_FALSE(source->rotationRate().has_value());
}

TEST_F(TempTree, IioWithoutSensorsOrRootGivesNoSource) {
    EXPECT_FALSE(IioMotionSource::open((root_ / "missing").string()).has_value());
    write(root_ / "iio:device0" / "in_voltage0_raw", "5\n");
    EXPECT_FALSE(IioMotionSource::open(root_.string()).has_value());
    // An accelerometer alone is enough; it then has no gyroscope and no yaw.
    write(root_ / "iio:device3" / "in_accel_z_raw", "3\n");
    auto accelOnly = IioMotionSource::open(root_.string());
    ASSERT_TRUE(accelOnly.has_value());
    EXPECT_NEAR(accelOnly->acceleration()->z, 3.0 / 9.80665, 1e-12);  // no scale file: 1
    EXPECT_FALSE(accelOnly->rotationRate().has_value());
    EXPECT_FALSE(accelOnly->yaw().has_value());
}

TEST(MotionReplay, ParsesLinesSkippingCommentsAndHoldsTheLastRowInForce) {
    std::string error;
    auto rows =
        parseMotionReplay("# seconds,z,yaw\n0,-1,0\n\n0.5, -0.5 ,1.5\r\n2,0.23,-3\n", &error);
    ASSERT_TRUE(rows.has_value()) << error;
    ASSERT_EQ(rows->size(), 3u);
    double now = -1.0;
    ReplayMotionSource source(*rows, "test.csv", [&] { return now; });
    EXPECT_FALSE(source.yaw().has_value());  // before the first row
    EXPECT_FALSE(source.acceleration().has_value());
    now = 0.0;
    EXPECT_DOUBLE_EQ(*source.yaw(), 0.0);
    EXPECT_DOUBLE_EQ(source.acceleration()->z, -1.0);
    now = 0.49;
    EXPECT_DOUBLE_EQ(source.acceleration()->z, -1.0);
    now = 0.5;
    EXPECT_DOUBLE_EQ(*source.yaw(), 1.5);
    EXPECT_DOUBLE_EQ(source.acceleration()->z, -0.5);
    now = 100.0;
    EXPECT_DOUBLE_EQ(*source.yaw(), -3.0);
    EXPECT_FALSE(source.rotationRate().has_value());
}

TEST(MotionReplay, MalformedTextNamesTheLine) {
    std::string error;
    EXPECT_FALSE(parseMotionReplay("0,1,0\n1,2\n", &error).has_value());
    EXPECT_EQ(error, "line 2: expected seconds,z_in_g,yaw_in_radians");
    EXPECT_FALSE(parseMotionReplay("0,1,0\n\n1,x,0\n", &error).has_value());
    EXPECT_EQ(error, "line 3: expected three numbers: seconds,z_in_g,yaw_in_radians");
    EXPECT_FALSE(parseMotionReplay("1,0,0\n0.5,0,0\n", &error).has_value());
    EXPECT_EQ(error, "line 2: seconds go backwards");
    EXPECT_FALSE(parseMotionReplay("0,nan,0\n", &error).has_value());
    EXPECT_FALSE(parseMotionReplay("# only a comment\n", &error).has_value());
    EXPECT_EQ(error, "no samples");
}

TEST_F(TempTree, ReplayFileThatCannotBeReadNamesPathAndReason) {
    std::string error;
    const auto missing = (root_ / "nope.csv").string();
    EXPECT_FALSE(ReplayMotionSource::load(
                     missing, [] { return 0.0; }, &error)
                     .has_value());
    EXPECT_EQ(error, missing + ": No such file or directory");
    const auto bad = root_ / "bad.csv";
    write(bad, "0,1\n");
    EXPECT_FALSE(ReplayMotionSource::load(
        bad.string(), [] { return 0.0; }, &error));
    EXPECT_EQ(error, bad.string() + ": line 1: expected seconds,z_in_g,yaw_in_radians");
    const auto good = root_ / "good.csv";
    write(good, "0,0.5,0.25\n");
    auto source = ReplayMotionSource::load(
        good.string(), [] { return 3.0; }, &error);
    ASSERT_TRUE(source.has_value()) << error;
    EXPECT_DOUBLE_EQ(*source->yaw(), 0.25);
}

class ScriptedSource : public MotionSource {
  public:
    std::optional<Acceleration> acceleration() override { return accel; }
    std::optional<RotationRate> rotationRate() override { return rate; }
    std::optional<double> yaw() override { return yawValue; }
    std::string description() const override { return "scripted"; }
    std::optional<Acceleration> accel;
    std::optional<RotationRate> rate;
    std::optional<double> yawValue;
};

TEST_F(TempTree, MotionManagerGivesReadingsOnlyWhileStartedAndAddsTheHandTurn) {
    auto owned = std::make_unique<ScriptedSource>();
    ScriptedSource* source = owned.get();
    setMotionSource(std::move(owned));
    source->rate = RotationRate{1, 2, 3};
    source->yawValue = 3.0;

    MotionManager manager;
    EXPECT_FALSE(manager.gyroData().has_value());
    EXPECT_FALSE(manager.deviceMotion().has_value());
    manager.startGyroUpdates();
    manager.startDeviceMotionUpdates();
    EXPECT_DOUBLE_EQ(manager.gyroData()->rotationRate.z, 3.0);
    EXPECT_DOUBLE_EQ(manager.deviceMotion()->attitude.yaw, 3.0);

    turnDeviceBy(10.0 * kPi / 180.0);  // past pi: wraps to the negative side
    EXPECT_NEAR(manager.deviceMotion()->attitude.yaw, 3.0 + 10.0 * kPi / 180.0 - 2 * kPi, 1e-12);
    source->yawValue.reset();  // a source without yaw: only the hand turn counts
    EXPECT_NEAR(manager.deviceMotion()->attitude.yaw, 10.0 * kPi / 180.0, 1e-12);
    for (int i = 0; i < 36; ++i) {
        turnDeviceBy(-10.0 * kPi / 180.0);
    }
    EXPECT_NEAR(manager.deviceMotion()->attitude.yaw, 10.0 * kPi / 180.0, 1e-9);

    manager.stopGyroUpdates();
    EXPECT_FALSE(manager.gyroData().has_value());
    source->rate.reset();
    manager.startGyroUpdates();
    EXPECT_FALSE(manager.gyroData().has_value());  // no gyroscope, no sample
}

TEST(MotionReading, GravityGivesTheOrientationAndDiagonalsKeepThePreviousOne) {
    const auto prev = DeviceOrientationLandscapeLeft;
    EXPECT_EQ(orientationFromGravity({0, 0, -1}, prev), DeviceOrientationFaceUp);
    EXPECT_EQ(orientationFromGravity({0, 0, 1}, prev), DeviceOrientationFaceDown);
    EXPECT_EQ(orientationFromGravity({0, -1, 0.1}, prev), DeviceOrientationPortrait);
    EXPECT_EQ(orientationFromGravity({0.1, 1, 0}, prev), DeviceOrientationPortraitUpsideDown);
    EXPECT_EQ(orientationFromGravity({1, 0, 0}, DeviceOrientationPortrait),
              DeviceOrientationLandscapeRight);
    EXPECT_EQ(orientationFromGravity({0.7, 0.7, 0}, prev), prev);
    EXPECT_EQ(orientationFromGravity({0, 0, 0}, prev), prev);  // free fall
    EXPECT_DOUBLE_EQ(wrapAngle(3 * kPi / 2), -kPi / 2);
    EXPECT_DOUBLE_EQ(wrapAngle(-kPi / 4), -kPi / 4);
    EXPECT_DOUBLE_EQ(wrapAngle(NAN), 0.0);
}

}  // namespace
