#include "instrument/DeviceOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace fm::instrument {

using fm::platform::parseListenAddress;
namespace {

// A number as people write one: "12", "-3.5", ".5". Not what strtod takes besides: hexadecimal
// ("0x10"), exponents, "inf", spaces.
bool isDecimal(const std::string& text) {
    std::size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

// A level in dB: a finite number from lowest to highest.
bool parseDb(const std::string& text, double lowest, double highest, double* out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (!isDecimal(text) || errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v) ||
        v < lowest || v > highest) {
        return false;
    }
    *out = v;
    return true;
}

bool parsePositive(const std::string& text, double limit, double* out) {
    if (!isDecimal(text)) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v) || v <= 0.0 ||
        v > limit) {
        return false;
    }
    *out = v;
    return true;
}

// How often the screen is saved: 0 (never), or often enough to watch and seldom enough to cost
// nothing, up to once a day (Qt's timers count milliseconds in an int).
bool parseScreenEvery(const std::string& text, double* out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (!isDecimal(text) || errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v) ||
        (v != 0.0 && (v < 0.1 || v > 86400.0))) {
        return false;
    }
    *out = v == 0.0 ? 0.0 : v;  // "-0" is 0
    return true;
}

}  // namespace

DeviceOptionsResult parseDeviceOptions(const std::vector<std::string>& args) {
    return parseDeviceOptions(args, DeviceOptions{});
}

DeviceOptionsResult parseDeviceOptions(const std::vector<std::string>& args, DeviceOptions base,
                                       bool crossChecks) {
    DeviceOptions o = std::move(base);
    DeviceOptionsResult result;
    if (!args.empty() && o.passThrough.empty()) {
        o.passThrough.push_back(args[0]);
    }
    auto fail = [&](const std::string& why) {
        result.error = why;
        return result;
    };
    for (size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        // Takes the option's value from "--opt=value" or the next argument.
        auto value = [&](std::string* out) -> bool {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto flag = [&](bool* target) -> bool {
            if (inlineValue) {
                return false;  // "--tall=1" is a mistake, not a flag
            }
            *target = true;
            return true;
        };
        std::string text;
        if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            o.given.push_back(arg);
        }
        if (arg == "--input") {
            if (!value(&o.input) || o.input.empty()) {
                return fail("--input: needs a file or \"demo\"");
            }
        } else if (arg == "--channel") {
            double c = 0.0;
            if (!value(&text) || !parsePositive(text, 1024.0, &c) || c != std::floor(c)) {
                return fail("--channel: needs a channel number from 1, e.g. 1 for the left");
            }
            o.channel = static_cast<int>(c);
        } else if (arg == "--capture-device") {
            if (!value(&o.captureDevice) || o.captureDevice.empty()) {
                return fail("--capture-device: needs a device name");
            }
        } else if (arg == "--documents") {
            if (!value(&o.documents) || o.documents.empty()) {
                return fail("--documents: needs a folder");
            }
        } else if (arg == "--mic-correction") {
            if (!value(&o.micCorrection) || o.micCorrection.empty()) {
                return fail("--mic-correction: needs the microphone's calibration file");
            }
        } else if (arg == "--motion") {
            if (!value(&o.motionFile) || o.motionFile.empty()) {
                return fail("--motion: needs a CSV file");
            }
        } else if (arg == "--log") {
            if (!value(&o.logFile) || o.logFile.empty()) {
                return fail("--log: needs a file");
            }
        } else if (arg == "--log-dir") {
            if (!value(&o.logFolder) || o.logFolder.empty()) {
                return fail("--log-dir: needs a folder");
            }
        } else if (arg == "--summary") {
            if (!value(&o.summaryFile) || o.summaryFile.empty()) {
                return fail("--summary: needs a file");
            }
        } else if (arg == "--period") {
            if (!value(&o.period) ||
                (o.period != "1m" && o.period != "5m" && o.period != "15m" && o.period != "1h")) {
                return fail("--period: needs 1m, 5m, 15m or 1h");
            }
        } else if (arg == "--http" || arg == "--metrics") {
            std::string why = "needs [HOST:]PORT";
            if (!value(&text) || !(o.metrics = parseListenAddress(text, &why))) {
                return fail(arg + ": " + why);
            }
        } else if (arg == "--http-token") {
            if (!value(&o.httpTokenFile) || o.httpTokenFile.empty()) {
                return fail("--http-token: needs a file that holds the access token");
            }
        } else if (arg == "--name") {
            if (!value(&o.meterName) || o.meterName.empty()) {
                return fail("--name: needs a name");
            }
        } else if (arg == "--event-above" || arg == "--event-peak") {
            const bool peak = arg == "--event-peak";
            double db = 0.0;
            if (!value(&text) || !parseDb(text, -120.0, 200.0, &db)) {
                return fail(arg + ": needs the level of " + (peak ? "LCpeak" : "LAF") +
                            " in dB (dBFS while uncalibrated) above which an event starts, "
                            "from -120 to 200");
            }
            (peak ? o.eventPeakDb : o.eventAboveDb) = db;
        } else if (arg == "--pre-roll" || arg == "--post-roll") {
            double seconds = 0.0;
            if (!value(&text) || !parseDb(text, 0.0, 60.0, &seconds)) {
                return fail(arg + ": needs a number of seconds from 0 to 60");
            }
            if (arg == "--post-roll" &&
                std::abs(seconds * 10.0 - std::round(seconds * 10.0)) > 1e-9) {
                return fail("--post-roll: counts in tenths of a second; " + text +
                            " is not a whole number of tenths (e.g. 0.1, 0.5, 2)");
            }
            (arg == "--pre-roll" ? o.preRollSeconds : o.postRollSeconds) = seconds;
        } else if (arg == "--events-max-mb") {
            if (!value(&text) || !parseDb(text, 0.0, 1e7, &o.eventsMaxMb)) {
                return fail(
                    "--events-max-mb: needs the megabytes the clips may take, from 0 "
                    "to 10000000");
            }
        } else if (arg == "--limit") {
            if (!value(&text) || text.empty()) {
                return fail("--limit: needs a limit, e.g. LAF>85 or night=LAeq_15m>45@23:00-07:00");
            }
            o.limits.push_back(text);
        } else if (arg == "--limit-clear" || arg == "--limit-every") {
            const bool clear = arg == "--limit-clear";
            double s = 0.0;
            if (!value(&text) ||
                !parseDb(text, clear ? 1.0 : 0.0, clear ? 86400.0 : 604800.0, &s) ||
                s != std::floor(s)) {
                return fail(clear ? "--limit-clear: needs the whole seconds without a break that "
                                    "end an episode, from 1 to 86400"
                                  : "--limit-every: needs the least whole seconds between two "
                                    "alerts of a limit, from 0 to 604800");
            }
            (clear ? o.limitClearSeconds : o.limitEverySeconds) = static_cast<int>(s);
        } else if (arg == "--scale") {
            double s = 0.0;
            if (!value(&text) || !parsePositive(text, 8.0, &s)) {
                return fail("--scale: needs a number above 0 and at most 8");
            }
            o.scale = s;
        } else if (arg == "--duration") {
            double d = 0.0;
            if (!value(&text) || !parsePositive(text, 1e7, &d)) {
                return fail("--duration: needs a number of seconds above 0");
            }
            o.durationSeconds = d;
        } else if (arg == "--screen-every") {
            double s = 0.0;
            if (!value(&text) || !parseScreenEvery(text, &s)) {
                return fail(
                    "--screen-every: needs 0 (never) or a number of seconds from 0.1 to "
                    "86400");
            }
            o.screenEverySeconds = s;
        } else if (arg == "--calibration") {
            double db = 0.0;
            if (!value(&text) || !parseDb(text, 60.0, 160.0, &db)) {
                return fail(
                    "--calibration: needs the dB that 0 dBFS corresponds to, from 60 to 160, "
                    "e.g. 120");
            }
            o.calibrationDb = db;
        } else if (arg == "--calibrate-to") {
            double db = 0.0;
            if (!value(&text) || !parseDb(text, 60.0, 150.0, &db)) {
                return fail(
                    "--calibrate-to: needs the reference level in dB, from 60 to 150, "
                    "e.g. 114");
            }
            o.calibrateToDb = db;
        } else if (arg == "--forget-calibration") {
            if (!flag(&o.forgetCalibration)) return fail("--forget-calibration: takes no value");
        } else if (arg == "--self-test") {
            if (!flag(&o.selfTest)) return fail("--self-test: takes no value");
        } else if (arg == "--list-devices") {
            if (!flag(&o.listDevices)) return fail("--list-devices: takes no value");
        } else if (arg == "--tall") {
            if (!flag(&o.tall)) return fail("--tall: takes no value");
        } else if (arg == "--headless") {
            if (!flag(&o.headless)) return fail("--headless: takes no value");
        } else if (arg == "--help" || arg == "-h") {
            if (!flag(&o.help)) return fail("--help: takes no value");
        } else if (arg == "--version") {
            if (!flag(&o.version)) return fail("--version: takes no value");
        } else if (arg == "--config") {
            if (!value(&o.configFile) || o.configFile.empty()) {
                return fail("--config: needs a file of options, e.g. /etc/fieldmeter/monitor.conf");
            }
        } else if (arg == "--mqtt") {
            if (!value(&o.mqttUrl) ||
                (o.mqttUrl.rfind("mqtt://", 0) != 0 && o.mqttUrl.rfind("mqtts://", 0) != 0)) {
                return fail(
                    "--mqtt: needs mqtt://[USER@]HOST[:PORT] or mqtts://[USER@]HOST[:PORT]");
            }
        } else if (arg == "--mqtt-ca" || arg == "--mqtt-cert" || arg == "--mqtt-key" ||
                   arg == "--mqtt-password-file" || arg == "--influx-token-file") {
            std::string* target = arg == "--mqtt-ca"             ? &o.mqttCaFile
                                  : arg == "--mqtt-cert"         ? &o.mqttCertFile
                                  : arg == "--mqtt-key"          ? &o.mqttKeyFile
                                  : arg == "--influx-token-file" ? &o.influxTokenFile
                                                                 : &o.mqttPasswordFile;
            if (!value(target) || target->empty()) {
                return fail(arg + ": needs a file");
            }
        } else if (arg == "--mqtt-topic") {
            if (!value(&o.mqttTopic) || o.mqttTopic.empty() ||
                o.mqttTopic.find_first_of("#+") != std::string::npos) {
                return fail("--mqtt-topic: needs a topic prefix without # or +, e.g. site/meter1");
            }
            while (!o.mqttTopic.empty() && o.mqttTopic.back() == '/') {
                o.mqttTopic.pop_back();
            }
        } else if (arg == "--mqtt-discovery") {
            if (!flag(&o.mqttDiscovery)) return fail("--mqtt-discovery: takes no value");
        } else if (arg == "--influx") {
            if (!value(&o.influxUrl) ||
                (o.influxUrl.rfind("http://", 0) != 0 && o.influxUrl.rfind("https://", 0) != 0)) {
                return fail(
                    "--influx: needs the store's write URL, e.g. "
                    "http://127.0.0.1:8428/write?db=noise or "
                    "https://HOST/api/v2/write?org=ORG&bucket=BUCKET");
            }
        } else if (arg == "--alert-webhook") {
            if (!value(&o.alertWebhook) || (o.alertWebhook.rfind("http://", 0) != 0 &&
                                            o.alertWebhook.rfind("https://", 0) != 0)) {
                return fail("--alert-webhook: needs an http:// or https:// URL to POST alerts to");
            }
        } else if (arg == "--alert-webhook-header-file") {
            if (!value(&o.alertWebhookHeaderFile) || o.alertWebhookHeaderFile.empty()) {
                return fail("--alert-webhook-header-file: needs a file of Name: value lines");
            }
        } else if (arg == "--alert-mail") {
            if (!value(&o.alertMail) || o.alertMail.find('@') == std::string::npos ||
                o.alertMail.find_first_of(" \t\r\n,<>") != std::string::npos) {
                return fail("--alert-mail: needs one mail address, e.g. noise@example.org");
            }
        } else if (arg == "--outbox-max-mb") {
            if (!value(&text) || !parsePositive(text, 1e7, &o.outboxMaxMb)) {
                return fail("--outbox-max-mb: needs the megabytes each outbox may take, above 0");
            }
        } else {
            o.passThrough.push_back(args[i]);  // Qt's own, or unknown: Qt decides
        }
    }
    if (!crossChecks) {
        result.options = std::move(o);
        return result;
    }
    if ((!o.mqttCaFile.empty() || !o.mqttCertFile.empty() || !o.mqttKeyFile.empty() ||
         !o.mqttPasswordFile.empty() || !o.mqttTopic.empty() || o.mqttDiscovery) &&
        o.mqttUrl.empty()) {
        return fail("the --mqtt-* options need --mqtt URL");
    }
    if (o.mqttCertFile.empty() != o.mqttKeyFile.empty()) {
        return fail("--mqtt-cert and --mqtt-key go together");
    }
    if ((!o.alertWebhook.empty() || !o.alertMail.empty()) && o.limits.empty()) {
        return fail("--alert-webhook and --alert-mail send the limits' alerts: give a --limit");
    }
    if (!o.alertWebhookHeaderFile.empty() && o.alertWebhook.empty()) {
        return fail("--alert-webhook-header-file needs --alert-webhook URL");
    }
    if (!o.influxTokenFile.empty() && o.influxUrl.empty()) {
        return fail("--influx-token-file needs --influx URL");
    }
    if (o.channel != 0 && (o.input.empty() || o.input == "demo")) {
        return fail("--channel: measures one channel of an audio file; give it with --input FILE");
    }
    result.options = std::move(o);
    return result;
}

bool isFlagOption(const std::string& name) {
    for (const char* flag : {"--forget-calibration", "--self-test", "--list-devices", "--tall",
                             "--headless", "--help", "--version", "--mqtt-discovery"}) {
        if (name == flag) {
            return true;
        }
    }
    return false;
}

double defaultScale(int availableWidth, int availableHeight, int screenHeight) {
    for (double s : {2.0, 1.5}) {
        if (kScreenWidthPoints * s <= availableWidth && screenHeight * s <= availableHeight) {
            return s;
        }
    }
    return 1.0;
}

std::string usageText(const std::string& programName) {
    return "Usage: " + programName +
           " [options] [Qt options]\n"
           "Shows the sound around the computer, and the way the device is turned, as a live\n"
           "field meter. The options describe the device the program runs on.\n"
           "\n"
           "  --input FILE|demo       play an audio file (at any sample rate: resampled to\n"
           "                          44,100 Hz), or the generated demo signal, instead of\n"
           "                          capturing the microphone\n"
           "  --channel N             measure channel N (1, 2, ...) of the --input file\n"
           "                          instead of the mean of its channels\n"
           "  --capture-device NAME   capture from this device (see --list-devices)\n"
           "  --list-devices          list the capture devices and exit\n"
           "  --tall                  a 320 x 568 point screen instead of 320 x 480\n"
           "  --scale N               zoom the screen by N (default: 2, 1.5 or 1, the largest\n"
           "                          that fits the display)\n"
           "  --documents DIR         where recordings go (default ~/Documents/fieldmeter)\n"
           "  --motion FILE           replay motion from a CSV file of lines\n"
           "                          seconds,z_in_g,yaw_in_radians\n"
           "  --headless              no window: save the screen as screen.png in the\n"
           "                          documents folder every second, and read key names\n"
           "                          (Right, Left, R, M, W, I, Escape, Space, [, ], E, D, K,\n"
           "                          Up, Down, PageUp, PageDown, Home, End), one per line,\n"
           "                          from standard input\n"
           "  --screen-every SECONDS  without a window: save screen.png this often (default\n"
           "                          1; 0 saves none and draws nothing for it)\n"
           "  --duration SECONDS      end cleanly after this many seconds\n"
           "  --log FILE              append the sound levels to a CSV file every second\n"
           "                          (a header row first when the file is new)\n"
           "  --log-dir FOLDER        the same rows in FOLDER/YYYY-MM-DD.csv, a file for each\n"
           "                          local day, begun at local midnight; the page's history\n"
           "                          and day report read them\n"
           "  --summary FILE          append a row of statistics for every period, and the\n"
           "                          day-evening-night levels of every whole local day\n"
           "  --period 1m|5m|15m|1h   the summary's period, aligned to the clock (default 15m)\n"
           "  --http [HOST:]PORT      serve the live page at http://HOST:PORT/ and the sound\n"
           "                          levels for Prometheus at /metrics (HOST 127.0.0.1\n"
           "                          unless given; port 0 picks a free port); beyond\n"
           "                          127.0.0.1 the page needs the access token printed at\n"
           "                          the start (also named --metrics)\n"
           "  --http-token FILE       the page's access token, read from FILE (letters,\n"
           "                          digits, - . _ ~), instead of a new one at every start\n"
           "  --name NAME             the meter's name in the metrics (default: the host name)\n"
           "  --event-above DB        capture an event while LAF is above DB (dB, or dBFS\n"
           "                          while uncalibrated; -120 to 200): a clip in events/\n"
           "                          in the documents folder and a row of events/events.csv\n"
           "  --event-peak DB         the same for LCpeak above DB\n"
           "  --pre-roll SECONDS      the seconds before an event its clip holds, 0 to 60\n"
           "                          (default 5)\n"
           "  --post-roll SECONDS     how long an event goes on after its last loud moment,\n"
           "                          0 to 60 in tenths (default 5)\n"
           "  --events-max-mb MB      the most the clips in events/ may take, 0 to 10000000\n"
           "                          (default 500); a clip that would pass it is not kept\n"
           "  --limit SPEC            a limit on the levels, repeatable: [NAME=]QUANTITY>DB\n"
           "                          [/HOLD][@[DAYS ]HH:MM-HH:MM], e.g. LAF>85/3s, LCpeak>130,\n"
           "                          night=LAeq_15m>45@23:00-07:00 (see the README)\n"
           "  --limit-clear SECONDS   an episode ends after this long without a break\n"
           "                          (default 60)\n"
           "  --limit-every SECONDS   at most one alert raised per limit this often; the\n"
           "                          episodes between are counted (default 600)\n"
           "  --calibration DB        the sound level in dB that 0 dBFS corresponds to, for\n"
           "                          this run, 60 to 160 (otherwise the last calibration\n"
           "                          with K)\n"
           "  --calibrate-to DB       the level of the reference source the key K calibrates\n"
           "                          with, 60 to 150 (default 94)\n"
           "  --forget-calibration    forget the calibration kept from earlier runs\n"
           "  --mic-correction FILE   take the microphone's response in its calibration file\n"
           "                          (Hz and dB per line) out of the sound before it is\n"
           "                          measured; its Sens Factor calibrates when neither K\n"
           "                          nor --calibration did\n"
           "  --config FILE           read options from FILE (key = value lines whose keys are\n"
           "                          the long options); the command line wins\n"
           "  --mqtt URL              publish every second, period, day and event to an MQTT\n"
           "                          broker, mqtt://[USER@]HOST[:PORT] or mqtts://..., with\n"
           "                          --mqtt-topic, --mqtt-password-file, --mqtt-ca,\n"
           "                          --mqtt-cert, --mqtt-key, --mqtt-discovery (see\n"
           "                          fieldmeter-monitor --help)\n"
           "  --influx URL            write every second as line protocol to a store\n"
           "                          (--influx-token-file for InfluxDB 2)\n"
           "  --outbox-max-mb MB      what each delivery's queue on disk may take (4000)\n"
           "  --alert-webhook URL     POST each limit's alerts as JSON (with\n"
           "                          --alert-webhook-header-file FILE)\n"
           "  --alert-mail ADDRESS    mail each limit's alerts through sendmail\n"
           "  --self-test             run the electrical tests of a class 1 sound level meter\n"
           "                          (IEC 61672) and of third-octave bands (IEC 61260) on\n"
           "                          the program's own engine, print their table and exit\n"
           "                          (status 0 when every value passes, 1 otherwise)\n"
           "  --help                  show this text\n"
           "  --version               show the version\n"
           "\n"
           "Keys: Right/Left arrow next/previous page, R record, M mail, W waveform or\n"
           "spectrum, I about page (Up/Down, Page Up/Down, Home/End scroll it), Escape\n"
           "closes it, Ctrl+Q quits, Space or Enter taps the instructions cover, [ and ]\n"
           "turn the device by 10 degrees, E writes the motion series as a property list\n"
           "(rawAccel.wav in the documents folder), D shows LAF or the raw level in the\n"
           "big read-out, K calibrates the sound levels from a reference source (3\n"
           "seconds).\n";
}

std::string versionText() {
#ifdef FM_VERSION
    return std::string("fieldmeter ") + FM_VERSION + "\n";
#else
    return "fieldmeter\n";
#endif
}

}  // namespace fm::instrument
