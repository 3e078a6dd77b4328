// The block said at the start: the input's own rate and channels, the calibration, every output.
#include "instrument/StartBlock.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace fm::instrument {
namespace {

TEST(StartBlock, SaysTheFilesRateAndChannelsTheCalibrationAndEveryOutput) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("fm-start-" + std::to_string(::getpid()) + ".wav");
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::vector<int> frames(2 * 480, 0);
    sf_writef_int(f, frames.data(), 480);
    sf_close(f);

    fm::instrument::DeviceOptions o;
    o.input = path.string();
    o.channel = 2;
    o.logFile = "/var/log/l.csv";
    o.eventPeakDb = 130.0;
    o.mqttUrl = "mqtt://broker";
    o.limits = {"night=LAeq_15m>45@23:00-07:00"};
    StartFacts facts{"file x.wav", path.string(), calibrationInWords(true, 114.04, "2026-12-01"),
                     "",           "/d",          true};
    EXPECT_EQ(startBlock("fieldmeter-monitor", o, facts),
              "fieldmeter-monitor: measuring, and where it goes:\n"
              "  input: file x.wav, 48,000 Hz resampled to 44,100 Hz, 2 channels (channel 2 "
              "measured)\n"
              "  calibration: 0 dBFS = 114.0 dB, calibrated on 2026-12-01; the levels are dB\n"
              "  log: /var/log/l.csv (a row a second)\n"
              "  events: /d/events (LCpeak above 130.0 dB; clips up to 500 MB)\n"
              "  MQTT: mqtt://broker\n"
              "  limit: night=LAeq_15m>45@23:00-07:00\n");
    EXPECT_EQ(calibrationInWords(false, 0.0, ""), "none: the levels are dBFS");
    // Without a screen, no output means the levels go nowhere.
    StartFacts bare{"demo input", "", "none: the levels are dBFS", "", "/d", false, false};
    const std::string block = startBlock("fieldmeter-monitor", DeviceOptions{}, bare);
    EXPECT_TRUE(
        block.ends_with("\n  outputs: none: the levels go nowhere (--log, --summary, "
                        "--http, --mqtt, --influx, --event-above)\n"))
        << block;
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace fm::instrument
