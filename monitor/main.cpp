// fieldmeter-monitor: the sound level meter without the phone screen, for systemd. It measures
// the input, writes and serves what fieldmeter does (the log, the summary, the events, the live
// page, the metrics) and delivers every second to a broker and a store; it tells systemd when
// it is ready and, while measured seconds keep coming, that it is alive.
#include <signal.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioEngine.h"
#include "audio/SignalState.h"
#include "instrument/ChainSelfTest.h"
#include "instrument/ConfigFile.h"
#include "instrument/InputChoice.h"
#include "instrument/InputWatch.h"
#include "instrument/LevelReports.h"
#include "instrument/ProgramLoop.h"
#include "instrument/ProgramStart.h"
#include "instrument/Say.h"
#include "instrument/StartBlock.h"
#include "measure/Calibration.h"
#include "measure/Limit.h"
#include "measure/Measurement.h"
#include "measure/MicCorrection.h"
#include "measure/Quantities.h"
#include "measure/SelfTest.h"
#include "monitor/Liveness.h"
#include "monitor/ServiceNotify.h"
#include "monitor/Usage.h"
#include "platform/audio/AudioInputSource.h"
#include "platform/audio/FileBlockSource.h"
#include "platform/audio/RtAudioInputUnit.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/settings/QtCalibrationStore.h"
#include "report/NumberText.h"

namespace {

using fm::instrument::DeviceOptions;

using fm::instrument::say;

// What the phone screen has and the monitor has not.
fm::instrument::RefusedOptions screenOptions() {
    return {{"--tall", "--scale", "--motion", "--headless", "--screen-every", "--calibrate-to"},
            "belongs to the screen, which fieldmeter-monitor has not (see fieldmeter --help)"};
}

int listDevices() {
    std::string error;
    const auto devices = fm::platform::listCaptureDevices(&error);
    for (const auto& d : devices) {
        std::printf("%s%s\t%s\t%u channel%s\n", d.isDefault ? "* " : "  ", d.api.c_str(),
                    d.name.c_str(), d.inputChannels, d.inputChannels == 1 ? "" : "s");
    }
    if (!error.empty()) {
        say("cannot list every capture device: " + error);
    }
    return devices.empty() ? 1 : 0;
}

// The documents folder: --documents, else the service's state directory, else the user's.
void chooseDocumentsFolder(const DeviceOptions& options) {
    if (!options.documents.empty()) {
        fm::platform::setDocumentsFolder(options.documents);
    } else if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state) {
        std::string first(state);
        first = first.substr(0, first.find(':'));  // systemd lists several with colons
        fm::platform::setDocumentsFolder(first);
    }
}

// The service's one line of status: the last LAeq,1s and where the sound comes from.
std::string statusLine(const fm::measure::SecondRecord& second) {
    std::string line = std::string("input ") + fm::measure::inputKindName(second.input);
    for (const auto& q : fm::measure::quantities()) {
        if (q.key != "LAeq_1s") {
            continue;
        }
        fm::measure::MeasurementView view;
        view.second = &second;
        std::string value;
        if (fm::report::appendFixed(&value, fm::measure::valueOf(q, view), 1)) {
            line = "LAeq,1s " + value + (second.calibrated ? " dB" : " dBFS") + "; " + line;
        }
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    fm::instrument::setProgramName("fieldmeter-monitor");
    const std::vector<std::string> args(argv, argv + argc);
    auto parsed = fm::instrument::parseOptionsWithConfigFile(args, screenOptions());
    if (!parsed.options) {
        say(parsed.error + " (see --help)");
        return 2;
    }
    DeviceOptions options = *parsed.options;
    if (std::string why; !fm::measure::parseLimits(options.limits, &why)) {
        say(why);
        return 2;
    }
    if (options.passThrough.size() > 1) {
        say("unknown option " + options.passThrough[1] + " (see --help)");
        return 2;
    }
    if (options.help) {
        std::fputs(fm::monitor::usageText("fieldmeter-monitor").c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::string version = fm::instrument::versionText();
        std::fputs(("fieldmeter-monitor" + version.substr(version.find(' '))).c_str(), stdout);
        return 0;
    }
    if (options.selfTest) {
        return fm::instrument::runSelfTests();
    }
    if (options.listDevices) {
        return listDevices();
    }
    std::optional<fm::measure::MicResponse> micResponse;
    if (const auto refused = fm::instrument::checkInputOptions(options, &micResponse, say)) {
        return *refused;
    }

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    // The same settings file as fieldmeter's: a calibration kept with K there is used here.
    QCoreApplication::setApplicationName("fieldmeter");

    chooseDocumentsFolder(options);
    if (!fm::platform::ensureDocumentsFolderReporting()) {
        say("cannot use the folder " + fm::platform::documentsFolder() +
            " for events and state (--documents DIR)");
        return 1;
    }
    long holder = 0;
    std::string lockError;
    if (!fm::platform::lockDocumentsFolder(&lockError, &holder)) {
        if (holder != 0) {
            say("the folder " + fm::platform::documentsFolder() + " is in use by process " +
                std::to_string(holder) + "; stop it or choose another with --documents DIR");
            return 1;
        }
        say("cannot lock the folder " + fm::platform::documentsFolder() + ": " + lockError);
    }

    if (fm::instrument::chooseAudioInput(options, false, say) ==
        fm::instrument::InputChoice::Refused) {
        return 1;
    }

    fm::platform::QtCalibrationStore calibrationStore;
    fm::measure::Calibration calibration(fm::measure::soundLevelMeter(), calibrationStore);
    fm::instrument::setUpCalibration(options, micResponse, &calibration, say);
    if (!calibration.calibrated()) {
        say("not calibrated: the levels are dBFS (--calibration DB, or K in fieldmeter)");
    }

    std::string reportError;
    std::unique_ptr<fm::instrument::LevelReports> reports =
        fm::instrument::LevelReports::start(options, &reportError);
    if (!reports) {
        say(reportError);
        return 1;
    }
    reports->setCalibration(&calibration);
    std::fputs(fm::instrument::startBlockNow("fieldmeter-monitor", options, calibration,
                                             reports->pageUrl())
                   .c_str(),
               stderr);
    reports->setSpectrumOnDemand(true);

    // No waveform snapshot and no raw level: they are the phone screen's.
    fm::audio::phoneScreen.store(false, std::memory_order_relaxed);
    fm::audio::AudioEngine engine;
    engine.FFTSetup();
    engine.startMeasuring();
    if (!engine.inputStarted()) {
        say(engine.inputSource().describe() + " cannot be started: " + engine.startError());
        return 1;
    }
    say("measuring " + engine.inputSource().describe());

    fm::instrument::InputWatch watch(engine, say);
    fm::monitor::ServiceNotify notify;
    fm::monitor::Liveness liveness(std::chrono::steady_clock::now());
    notify.ready("measuring; input " + engine.inputSource().describe());

    // A quarter of the watchdog's interval, so that two pings may go missing without a restart;
    // at most a second, for the status line.
    const auto watchdog = notify.watchdogInterval();
    const auto tickMs =
        watchdog.count() > 0 ? std::min<long long>(1000, watchdog.count() / 4000) : 1000;
    // Nothing reads the levels between seconds: one wake-up a second takes the second, then
    // pings the watchdog and says the status.
    auto lastTick = std::chrono::steady_clock::time_point{};
    reports->setQuietPace(std::chrono::milliseconds(tickMs), [&] {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastTick < std::chrono::milliseconds(tickMs) - std::chrono::milliseconds(50)) {
            return;  // the page's stream polls ten times a second
        }
        lastTick = now;
        watch.poll(now);
        const fm::measure::SecondRecord& newest = reports->lastSecond();
        liveness.observe(newest, watch.measuring(), now);
        if (watchdog.count() > 0 && liveness.alive(now)) {
            notify.watchdog();
        }
        const std::string deliveries = reports->deliveryStatus();
        notify.status(statusLine(newest) + (deliveries.empty() ? "" : "; " + deliveries));
    });

    if (options.durationSeconds) {
        fm::instrument::quitAfter(*options.durationSeconds, &app);
    }
    // SIGHUP, logrotate's signal, opens the log and the summary again at their paths.
    fm::instrument::quitOnSignals([&reports] {
        say("SIGHUP: opening the outputs again");
        reports->reopen();
    });
    int status = app.exec();
    notify.stopping();
    engine.stopMeasuring();
    if (reports->finish() > 0 && status == 0) {
        status = 1;  // rows that never reached their files were said with their counts
    }
    reports.reset();
    return status;
}
