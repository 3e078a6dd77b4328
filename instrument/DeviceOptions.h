#pragma once
// The command line, one parser for both programs: the device the program runs on (where the
// sound comes from, the screen's size and zoom, where files go, where motion comes from) and
// what is measured and where it goes. Options this parser does not know are left for Qt
// (e.g. -platform, -style). Qt-free.
#include <optional>
#include <string>
#include <vector>

#include "platform/device/ListenAddress.h"

namespace fm::instrument {

using fm::platform::ListenAddress;

struct DeviceOptions {
    std::string input;          // "" (the microphone), "demo", or an audio file's path
    int channel = 0;            // --channel: the file's channel to measure, from 1; 0 = the mix
    std::string captureDevice;  // capture device name; "" = the system's default
    bool listDevices = false;
    bool tall = false;  // a 320 x 568 point screen instead of 320 x 480
    std::optional<double> scale;
    std::string documents;   // "" = ~/Documents/fieldmeter
    std::string motionFile;  // --motion replay CSV
    // --mic-correction: the microphone's calibration file
    std::string micCorrection;
    bool headless = false;
    // Without a window: how often screen.png is saved, in seconds; 0 saves none.
    double screenEverySeconds = 1.0;
    std::optional<double> durationSeconds;
    // Where the sound levels go beside the screen.
    std::string logFile;         // --log: a CSV file that gets a row every second
    std::string logFolder;       // --log-dir: the same rows in a file for each local day
    std::string summaryFile;     // --summary: a CSV file that gets a row every period
    std::string period = "15m";  // --period: 1m, 5m, 15m or 1h
    // --http (or --metrics): where the web server (the live page, /metrics) listens.
    std::optional<ListenAddress> metrics;
    std::string httpTokenFile;  // --http-token: a file holding the access token
    std::string meterName;      // --name: the meter in the metrics; "" = host name
    // Loud moments, captured as clips in events/ with the seconds before and after them when
    // LAF (--event-above) or LCpeak (--event-peak) passes its level: dB when calibrated, else
    // dBFS.
    std::optional<double> eventAboveDb;
    std::optional<double> eventPeakDb;
    double preRollSeconds = 5.0;   // --pre-roll
    double postRollSeconds = 5.0;  // --post-roll
    double eventsMaxMb = 500.0;    // --events-max-mb: what the clips in events/ may take
    // Limits (--limit, repeatable; their grammar is the measurement's, checked at the start),
    // the seconds without a break that clear an episode, and the least time between two
    // alerts raised by one limit (0: no such limit).
    std::vector<std::string> limits;
    int limitClearSeconds = 60;
    int limitEverySeconds = 600;
    // The sound levels' calibration: the dB that 0 dBFS corresponds to for this run, and the
    // level of the reference source that the key K calibrates with.
    std::optional<double> calibrationDb;
    double calibrateToDb = 94.0;
    bool forgetCalibration = false;
    // Run the engine's self-test, print its table and exit.
    bool selfTest = false;
    bool help = false;
    bool version = false;
    // --config: an INI file of long option names (read by instrument/ConfigFile); the command
    // line wins over it.
    std::string configFile;
    // Getting every second off the machine (fieldmeter-monitor): an MQTT broker and a
    // line-protocol store, each through an outbox on disk.
    std::string mqttUrl;  // --mqtt mqtt://[USER@]HOST[:PORT] or mqtts://...
    std::string mqttCaFile;
    std::string mqttCertFile;
    std::string mqttKeyFile;
    std::string mqttPasswordFile;
    std::string mqttTopic;  // --mqtt-topic PREFIX; "" = fieldmeter/NAME
    bool mqttDiscovery = false;
    std::string influxUrl;        // --influx URL
    std::string influxTokenFile;  // --influx-token-file FILE
    double outboxMaxMb = 4000.0;  // --outbox-max-mb: what each outbox may take on disk
    // Where the limits' alerts go beside the outputs: a webhook (POST, JSON) with its headers,
    // and a mail address through sendmail.
    std::string alertWebhook;
    std::string alertWebhookHeaderFile;
    std::string alertMail;
    // The long names of the options given, in their order ("--log", ...), so that a program
    // can refuse the ones it has no use for.
    std::vector<std::string> given;
    // argv[0] followed by every argument left for Qt, in their order.
    std::vector<std::string> passThrough;
};

struct DeviceOptionsResult {
    std::optional<DeviceOptions> options;
    std::string error;  // set when options is empty, e.g. "--scale: needs a number above 0"
};

DeviceOptionsResult parseDeviceOptions(const std::vector<std::string>& args);
// The same on top of options already parsed (a config file's); `crossChecks` false leaves out
// the checks between options, for a part of the whole.
DeviceOptionsResult parseDeviceOptions(const std::vector<std::string>& args, DeviceOptions base,
                                       bool crossChecks = true);

// Whether the long option (e.g. "--tall") is a flag, which takes no value.
bool isFlagOption(const std::string& name);

// The screen's height in points for the given options.
inline int screenHeightPoints(const DeviceOptions& o) {
    return o.tall ? 568 : 480;
}
inline constexpr int kScreenWidthPoints = 320;

// The zoom when none is given: the largest of 2, 1.5 and 1 at which the screen fits into the
// available desktop area (1 when even that does not fit).
double defaultScale(int availableWidth, int availableHeight, int screenHeight);

std::string usageText(const std::string& programName);
std::string versionText();

}  // namespace fm::instrument
