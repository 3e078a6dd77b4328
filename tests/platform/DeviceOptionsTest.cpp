#include <gtest/gtest.h>

#include <tuple>

#include "platform/device/DeviceOptions.h"
#include "platform/device/ListenAddress.h"

using fm::platform::defaultScale;
using fm::platform::DeviceOptions;
using fm::platform::parseDeviceOptions;

namespace {

DeviceOptions parsed(const std::vector<std::string>& args) {
    auto r = parseDeviceOptions(args);
    EXPECT_TRUE(r.options.has_value()) << r.error;
    return r.options.value_or(DeviceOptions{});
}

std::string errorOf(const std::vector<std::string>& args) {
    auto r = parseDeviceOptions(args);
    EXPECT_FALSE(r.options.has_value());
    return r.error;
}

TEST(DeviceOptions, EveryOptionInBothSpellingsAndQtOptionsPassThroughInOrder) {
    auto o =
        parsed({"fm", "-platform", "offscreen", "--input", "a.wav", "--capture-device=Mic 2",
                "--tall", "--scale=1.5", "--documents", "/tmp/d", "--motion=m.csv", "--headless",
                "--duration", "3", "-style", "fusion", "--list-devices", "--screen-every", "0"});
    EXPECT_EQ(o.input, "a.wav");
    EXPECT_EQ(o.captureDevice, "Mic 2");
    EXPECT_TRUE(o.tall);
    EXPECT_DOUBLE_EQ(o.scale.value(), 1.5);
    EXPECT_EQ(o.documents, "/tmp/d");
    EXPECT_EQ(o.motionFile, "m.csv");
    EXPECT_TRUE(o.headless);
    EXPECT_DOUBLE_EQ(o.durationSeconds.value(), 3.0);
    EXPECT_EQ(o.screenEverySeconds, 0.0);
    EXPECT_TRUE(o.listDevices);
    EXPECT_FALSE(o.help);
    EXPECT_EQ(o.passThrough,
              (std::vector<std::string>{"fm", "-platform", "offscreen", "-style", "fusion"}));
    EXPECT_EQ(fm::platform::screenHeightPoints(o), 568);

    auto plain = parsed({"fm"});
    EXPECT_EQ(plain.input, "");
    EXPECT_FALSE(plain.scale.has_value());
    EXPECT_FALSE(plain.durationSeconds.has_value());
    EXPECT_EQ(plain.screenEverySeconds, 1.0);
    EXPECT_EQ(parsed({"fm", "--screen-every=0.1"}).screenEverySeconds, 0.1);
    EXPECT_EQ(parsed({"fm", "--screen-every=86400"}).screenEverySeconds, 86400.0);
    EXPECT_EQ(fm::platform::screenHeightPoints(plain), 480);
    EXPECT_TRUE(parsed({"fm", "--help"}).help);
    EXPECT_TRUE(parsed({"fm", "-h"}).help);
    EXPECT_TRUE(parsed({"fm", "--version"}).version);
    EXPECT_TRUE(parsed({"fm", "--self-test"}).selfTest);
    EXPECT_FALSE(plain.selfTest);
    EXPECT_EQ(parsed({"fm", "--input", "demo"}).input, "demo");
    EXPECT_EQ(parsed({"fm", "--input", "a.wav", "--channel", "2"}).channel, 2);

    EXPECT_FALSE(plain.calibrationDb.has_value());
    EXPECT_DOUBLE_EQ(plain.calibrateToDb, 94.0);
    EXPECT_FALSE(plain.forgetCalibration);
    EXPECT_EQ(plain.period, "15m");
    const auto levels = parsed({"fm", "--calibration", "160", "--calibrate-to=60",
                                "--forget-calibration", "--summary", "s.csv", "--period", "1h"});
    EXPECT_DOUBLE_EQ(levels.calibrationDb.value(), 160.0);
    EXPECT_DOUBLE_EQ(levels.calibrateToDb, 60.0);
    EXPECT_TRUE(levels.forgetCalibration);
    EXPECT_EQ(levels.summaryFile, "s.csv");
    EXPECT_EQ(levels.period, "1h");
    EXPECT_DOUBLE_EQ(
        parsed({"fm", "--calibration=60", "--calibrate-to", "150"}).calibrationDb.value(), 60.0);
}

TEST(DeviceOptions, MissingOrBadValuesAreRefusedWithTheOptionNamed) {
    EXPECT_EQ(errorOf({"fm", "--input"}), "--input: needs a file or \"demo\"");
    EXPECT_EQ(errorOf({"fm", "--input="}), "--input: needs a file or \"demo\"");
    EXPECT_EQ(errorOf({"fm", "--scale", "0"}), "--scale: needs a number above 0 and at most 8");
    EXPECT_EQ(errorOf({"fm", "--scale", "two"}), "--scale: needs a number above 0 and at most 8");
    EXPECT_EQ(errorOf({"fm", "--scale=9"}), "--scale: needs a number above 0 and at most 8");
    EXPECT_EQ(errorOf({"fm", "--scale", "nan"}), "--scale: needs a number above 0 and at most 8");
    EXPECT_EQ(errorOf({"fm", "--duration", "-1"}), "--duration: needs a number of seconds above 0");
    EXPECT_EQ(errorOf({"fm", "--duration", "3s"}), "--duration: needs a number of seconds above 0");
    // strtod reads these as numbers; nobody writing seconds means them.
    for (const char* bad : {"0x10", "1e3", " 5", "infinity"}) {
        EXPECT_EQ(errorOf({"fm", "--duration", bad}),
                  "--duration: needs a number of seconds above 0")
            << bad;
        EXPECT_EQ(errorOf({"fm", "--calibration", bad}).rfind("--calibration: needs", 0), 0u);
    }
    EXPECT_EQ(parsed({"fm", "--duration", "+.5", "--scale", "1."}).durationSeconds, 0.5);
    EXPECT_EQ(errorOf({"fm", "--duration"}), "--duration: needs a number of seconds above 0");
    EXPECT_EQ(errorOf({"fm", "--tall=yes"}), "--tall: takes no value");
    for (const char* every : {"-1", "0.09", "86401", "often", "nan", ""}) {
        EXPECT_EQ(errorOf({"fm", "--screen-every", every}),
                  "--screen-every: needs 0 (never) or a number of seconds from 0.1 to 86400");
    }
    EXPECT_EQ(errorOf({"fm", "--documents"}), "--documents: needs a folder");
    EXPECT_EQ(errorOf({"fm", "--motion"}), "--motion: needs a CSV file");
    EXPECT_EQ(errorOf({"fm", "--capture-device"}), "--capture-device: needs a device name");
    EXPECT_EQ(errorOf({"fm", "--input", "a.wav", "--channel", "1.5"}),
              "--channel: needs a channel number from 1, e.g. 1 for the left");
    EXPECT_EQ(errorOf({"fm", "--input", "demo", "--channel=1"}),
              "--channel: measures one channel of an audio file; give it with --input FILE");
    const std::string calibration =
        "--calibration: needs the dB that 0 dBFS corresponds to, from 60 to 160, e.g. 120";
    for (const char* bad : {"59.99", "160.01", "inf", "94dB"}) {
        EXPECT_EQ(errorOf({"fm", "--calibration", bad}), calibration) << bad;
    }
    EXPECT_EQ(errorOf({"fm", "--calibration"}), calibration);
    const std::string target =
        "--calibrate-to: needs the reference level in dB, from 60 to 150, e.g. 114";
    for (const char* bad : {"59.9", "150.1", "200", "nan"}) {
        EXPECT_EQ(errorOf({"fm", "--calibrate-to", bad}), target) << bad;
    }
    EXPECT_EQ(errorOf({"fm", "--period", "2m"}), "--period: needs 1m, 5m, 15m or 1h");
    EXPECT_EQ(errorOf({"fm", "--forget-calibration=1"}), "--forget-calibration: takes no value");
    EXPECT_EQ(errorOf({"fm", "--self-test=yes"}), "--self-test: takes no value");
}

TEST(DeviceOptions, SoundLevelReportOptions) {
    auto o = parsed({"fm", "--log", "levels.csv", "--metrics=0.0.0.0:9100", "--name", "roof"});
    EXPECT_EQ(o.logFile, "levels.csv");
    ASSERT_TRUE(o.metrics.has_value());
    EXPECT_EQ(o.metrics->host, "0.0.0.0");
    EXPECT_EQ(o.metrics->port, 9100);
    EXPECT_EQ(o.meterName, "roof");
    EXPECT_EQ(parsed({"fm", "--metrics", "9100"}).metrics->host, "127.0.0.1");
    EXPECT_FALSE(parsed({"fm"}).metrics.has_value());
    const auto web = parsed({"fm", "--http", "[::1]:8080", "--http-token", "token.txt"});
    EXPECT_EQ(web.metrics->host, "::1");
    EXPECT_EQ(web.metrics->port, 8080);
    EXPECT_EQ(web.httpTokenFile, "token.txt");
    EXPECT_EQ(errorOf({"fm", "--http", "x"}), "--http: \"x\" is not a port number from 0 to 65535");
    EXPECT_EQ(errorOf({"fm", "--http-token="}),
              "--http-token: needs a file that holds the access token");
    EXPECT_EQ(errorOf({"fm", "--log"}), "--log: needs a file");
    EXPECT_EQ(errorOf({"fm", "--metrics"}), "--metrics: needs [HOST:]PORT");
    EXPECT_EQ(errorOf({"fm", "--metrics", "http"}),
              "--metrics: \"http\" is not a port number from 0 to 65535");
    EXPECT_EQ(errorOf({"fm", "--name="}), "--name: needs a name");
}

TEST(DeviceOptions, EventOptionsWithTheirDefaultsAndBothSidesOfTheirLimits) {
    const auto o = parsed({"fm", "--event-above", "85.5", "--event-peak=-120", "--pre-roll", "0",
                           "--post-roll", "60", "--events-max-mb", "0"});
    EXPECT_EQ(o.eventAboveDb, 85.5);
    EXPECT_EQ(o.eventPeakDb, -120.0);
    EXPECT_EQ(std::tuple(o.preRollSeconds, o.postRollSeconds, o.eventsMaxMb), std::tuple(0, 60, 0));
    const auto d = parsed({"fm"});
    EXPECT_FALSE(d.eventAboveDb || d.eventPeakDb);
    EXPECT_EQ(std::tuple(d.preRollSeconds, d.postRollSeconds, d.eventsMaxMb),
              std::tuple(5, 5, 500));
    for (const char* bad : {"-120.1", "200.1", "loud"}) {
        EXPECT_EQ(errorOf({"fm", "--event-peak", bad}),
                  "--event-peak: needs the level of LCpeak in dB (dBFS while uncalibrated) above "
                  "which an event starts, from -120 to 200");
    }
    EXPECT_EQ(errorOf({"fm", "--event-above"}).rfind("--event-above: needs the level of LAF", 0),
              0u);
    for (const char* bad : {"-0.1", "60.1"}) {
        EXPECT_EQ(errorOf({"fm", "--post-roll", bad}),
                  "--post-roll: needs a number of seconds from 0 to 60");
        EXPECT_EQ(errorOf({"fm", "--pre-roll", bad}),
                  "--pre-roll: needs a number of seconds from 0 to 60");
    }
    EXPECT_EQ(errorOf({"fm", "--post-roll", "0.05"}),
              "--post-roll: counts in tenths of a second; 0.05 is not a whole number of tenths "
              "(e.g. 0.1, 0.5, 2)");
    EXPECT_EQ(parsed({"fm", "--post-roll", "0.3", "--pre-roll", "0.05"}).postRollSeconds, 0.3);
    for (const char* bad : {"-1", "10000001", "0x10"}) {
        EXPECT_EQ(errorOf({"fm", "--events-max-mb", bad}),
                  "--events-max-mb: needs the megabytes the clips may take, from 0 to 10000000");
    }
}

TEST(DeviceOptions, DefaultScaleIsTheLargestThatFits) {
    EXPECT_DOUBLE_EQ(defaultScale(1920, 1080, 480), 2.0);  // 640 x 960
    EXPECT_DOUBLE_EQ(defaultScale(1920, 1080, 568), 1.5);  // 1136 would not fit
    EXPECT_DOUBLE_EQ(defaultScale(1280, 720, 480), 1.5);   // 720 fits exactly
    EXPECT_DOUBLE_EQ(defaultScale(800, 600, 480), 1.0);
    EXPECT_DOUBLE_EQ(defaultScale(300, 400, 480), 1.0);  // nothing fits: unzoomed
}

TEST(DeviceOptions, HelpNamesEveryOption) {
    const std::string help = fm::platform::usageText("fieldmeter");
    for (const char* option : {"--input",
                               "--capture-device",
                               "--list-devices",
                               "--tall",
                               "--scale",
                               "--documents",
                               "--motion",
                               "--headless",
                               "--duration",
                               "--log",
                               "--metrics",
                               "--name",
                               "--help",
                               "--version",
                               "--calibration",
                               "--calibrate-to",
                               "--forget-calibration",
                               "--summary",
                               "--period",
                               "--screen-every",
                               "--event-above",
                               "--event-peak",
                               "--pre-roll",
                               "--post-roll",
                               "--events-max-mb"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_NE(help.find("--http [HOST:]PORT"), std::string::npos);
    EXPECT_NE(help.find("--http-token FILE"), std::string::npos);
    EXPECT_NE(help.find("--self-test"), std::string::npos);
    EXPECT_EQ(fm::platform::versionText().rfind("fieldmeter ", 0), 0u);
}

TEST(DeviceOptions, ListenAddressIsPortOrHostAndPort) {
    std::string error;
    for (const auto& [text, host, port] : {std::tuple{"9100", "127.0.0.1", 9100},
                                           {"0.0.0.0:80", "0.0.0.0", 80},
                                           {"[::1]:9100", "::1", 9100}}) {
        const auto a = fm::platform::parseListenAddress(text, &error);
        ASSERT_TRUE(a) << text << ": " << error;
        EXPECT_EQ(a->host, host);
        EXPECT_EQ(a->port, port);
    }
    for (const char* bad : {"", "65536", "host:", ":9100", "::1:9100", "91a0", "[::1]9100"}) {
        EXPECT_FALSE(fm::platform::parseListenAddress(bad, &error)) << bad;
    }
}

TEST(DeviceOptions, LimitsAreRepeatedAndTheirTimesBounded) {
    const auto o = parsed({"fm", "--limit", "LAF>85", "--limit=night=LAeq_15m>45@23:00-07:00",
                           "--limit-clear", "1", "--limit-every=0"});
    EXPECT_EQ(o.limits, (std::vector<std::string>{"LAF>85", "night=LAeq_15m>45@23:00-07:00"}));
    EXPECT_EQ(std::tuple(o.limitClearSeconds, o.limitEverySeconds), std::tuple(1, 0));
    const auto d = parsed({"fm"});
    EXPECT_EQ(std::tuple(d.limits.size(), d.limitClearSeconds, d.limitEverySeconds),
              std::tuple(0u, 60, 600));
    for (const char* bad : {"0", "1.5", "86401", "x"}) {
        EXPECT_EQ(errorOf({"fm", "--limit-clear", bad}).rfind("--limit-clear: needs", 0), 0u);
    }
    EXPECT_EQ(errorOf({"fm", "--limit-every", "-1"}).rfind("--limit-every: needs", 0), 0u);
    EXPECT_EQ(errorOf({"fm", "--limit"}).rfind("--limit: needs a limit", 0), 0u);
    const std::string help = fm::platform::usageText("fieldmeter");
    for (const char* option : {"--limit SPEC", "--limit-clear", "--limit-every"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
