// The config file under the command line: its keys are the long options, the command line wins,
// and a fault is named with the file and the line.
#include "instrument/ConfigFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fm::instrument {
namespace {

class ConfigFile : public ::testing::Test {
  protected:
    std::string write(const std::string& text) {
        path_ = std::filesystem::temp_directory_path() /
                ("fm-config-" + std::to_string(::getpid()) + ".conf");
        std::ofstream(path_) << text;
        return path_.string();
    }
    void TearDown() override { std::filesystem::remove(path_); }

    std::filesystem::path path_;
};

TEST_F(ConfigFile, ItsKeysAreTheLongOptionsAndTheCommandLineWins) {
    const std::string path = write(
        "# the meter on the pole\n"
        "[fieldmeter-monitor]\n"
        "log = /var/lib/fieldmeter/log.csv\n"
        "period=5m\n"
        "  name = \"pole 7\"  \n"
        "mqtt = mqtt://meter@broker.local:1884\n"
        "mqtt-discovery = true\n"
        "forget-calibration = false\n"
        "; a comment\n"
        "calibration = 110\n");
    const auto parsed = parseOptionsWithConfigFile(
        {"fieldmeter-monitor", "--config", path, "--period", "1h", "--calibration=120"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const auto& o = *parsed.options;
    EXPECT_EQ(o.logFile, "/var/lib/fieldmeter/log.csv");
    EXPECT_EQ(o.period, "1h");
    EXPECT_EQ(o.meterName, "pole 7");
    EXPECT_EQ(o.mqttUrl, "mqtt://meter@broker.local:1884");
    EXPECT_TRUE(o.mqttDiscovery);
    EXPECT_FALSE(o.forgetCalibration);
    EXPECT_EQ(o.calibrationDb, 120.0);
}

TEST_F(ConfigFile, AFaultIsRefusedWithTheFileAndItsLine) {
    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"log = a.csv\nloudness = 3\n", ":2: unknown key loudness"},
        {"\n\nperiod = 2m\n", ":3: --period: needs 1m, 5m, 15m or 1h"},
        {"headless = maybe\n", ":1: headless: needs true or false"},
        {"just words\n", ":1: needs key = value"},
        {"tall = true\n", ":1: --tall: belongs to the screen"},
        {"config = other.conf\n", ":1: a config file cannot name another one"},
        {"limit = LAF>85\nlimit = LAF>>85\n", ":2: --limit LAF>>85: "},
    };
    const RefusedOptions screen{{"--tall"}, "belongs to the screen"};
    for (const auto& c : cases) {
        const std::string path = write(c.text);
        const auto parsed = parseOptionsWithConfigFile({"m", "--config", path}, screen);
        EXPECT_FALSE(parsed.options) << c.text;
        EXPECT_EQ(parsed.error.rfind(path + c.error, 0), 0u) << parsed.error;
    }
    // The same option on the command line is refused there, without a line.
    const auto parsed = parseOptionsWithConfigFile({"m", "--tall"}, screen);
    EXPECT_EQ(parsed.error, "--tall: belongs to the screen");
    // A file that is not there is named.
    EXPECT_EQ(parseOptionsWithConfigFile({"m", "--config=/nonexistent/x.conf"}).error,
              "--config /nonexistent/x.conf: cannot read it");
}

}  // namespace
}  // namespace fm::instrument
