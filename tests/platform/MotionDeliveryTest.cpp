#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "platform/motion/Accelerometer.h"
#include "platform/motion/DeviceOrientationSource.h"
#include "platform/motion/MotionSource.h"

using namespace fm::platform;

namespace {

class ScriptedSource : public MotionSource {
  public:
    std::optional<Acceleration> acceleration() override { return accel; }
    std::optional<RotationRate> rotationRate() override { return std::nullopt; }
    std::optional<double> yaw() override { return std::nullopt; }
    std::string description() const override { return "scripted"; }
    std::optional<Acceleration> accel;
};

struct Collector : AccelerometerDelegate {
    void accelerometerDidAccelerate(Accelerometer* from, const Acceleration& a) override {
        sender = from;
        samples.push_back(a);
    }
    Accelerometer* sender = nullptr;
    std::vector<Acceleration> samples;
};

TEST(AccelerometerDelivery, SamplesArriveRepeatedlyAtTheIntervalUntilTheDelegateIsCleared) {
    auto owned = std::make_unique<ScriptedSource>();
    owned->accel = Acceleration{0, 0, -0.5};
    setMotionSource(std::move(owned));

    Collector collector;
    Accelerometer* accel = Accelerometer::sharedAccelerometer();
    EXPECT_EQ(accel, Accelerometer::sharedAccelerometer());
    accel->setDelegate(&collector);
    QTest::qWait(30);
    EXPECT_TRUE(collector.samples.empty());  // no interval yet: nothing is delivered
    accel->setUpdateInterval(0.01);
    EXPECT_TRUE(QTest::qWaitFor([&] { return collector.samples.size() >= 5; }, 5000));
    EXPECT_EQ(collector.sender, accel);
    EXPECT_DOUBLE_EQ(collector.samples.back().z, -0.5);

    accel->setDelegate(nullptr);
    const size_t count = collector.samples.size();
    QTest::qWait(50);
    EXPECT_EQ(collector.samples.size(), count);
    setMotionSource(nullptr);
}

TEST(AccelerometerDelivery, GravityTurnsTheDeviceOrientationAndSignalsEachChangeOnce) {
    auto owned = std::make_unique<ScriptedSource>();
    ScriptedSource* source = owned.get();
    setMotionSource(std::move(owned));
    auto* device = DeviceOrientationSource::currentDevice();
    device->setOrientation(DeviceOrientationUnknown);
    QSignalSpy spy(device, &DeviceOrientationSource::orientationDidChange);

    Accelerometer* accel = Accelerometer::sharedAccelerometer();
    source->accel = Acceleration{0, -1, 0};
    accel->deliverSample();
    accel->deliverSample();
    source->accel = Acceleration{0, 1, 0};
    accel->deliverSample();
    source->accel.reset();  // no reading: nothing changes
    accel->deliverSample();
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toInt(), DeviceOrientationPortrait);
    EXPECT_EQ(spy.at(1).at(0).toInt(), DeviceOrientationPortraitUpsideDown);
    EXPECT_EQ(device->orientation(), DeviceOrientationPortraitUpsideDown);
    setMotionSource(nullptr);
}

}  // namespace
