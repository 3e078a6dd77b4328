// fieldmeter: the entry function. The command line describes the device (see --help); then
// the application loop runs with AppDelegate until the window closes or --duration ends.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/HeadlessScreen.h"
#include "instrument/ChainSelfTest.h"
#include "instrument/ConfigFile.h"
#include "instrument/DeviceOptions.h"
#include "instrument/InputChoice.h"
#include "instrument/LevelReports.h"
#include "instrument/ProgramLoop.h"
#include "instrument/ProgramStart.h"
#include "instrument/StartBlock.h"
#include "measure/Calibration.h"
#include "measure/Limit.h"
#include "measure/LimitWatch.h"
#include "measure/Measurement.h"
#include "measure/MicCorrection.h"
#include "measure/SelfTest.h"
#include "platform/audio/AudioInputSource.h"
#include "platform/audio/FileBlockSource.h"
#include "platform/audio/RtAudioInputUnit.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/motion/IioMotionSource.h"
#include "platform/motion/MotionSource.h"
#include "platform/motion/ReplayMotionSource.h"
#include "platform/notify/DesktopNotifier.h"
#include "platform/settings/QtCalibrationStore.h"
#include "report/AlertJson.h"
#include "screen/SoundLevelDisplay.h"
#include "screen/ViewController.h"

namespace {

using fm::instrument::DeviceOptions;

void say(const std::string& line) {
    std::fprintf(stderr, "fieldmeter: %s\n", line.c_str());
}

bool hasDisplay(const DeviceOptions& o) {
    for (size_t i = 1; i < o.passThrough.size(); ++i) {
        if (o.passThrough[i] == "-platform" || o.passThrough[i] == "--platform") {
            return true;  // the user chose a platform: Qt decides
        }
    }
    if (const char* qpa = std::getenv("QT_QPA_PLATFORM"); qpa != nullptr && *qpa != '\0') {
        return std::string(qpa) != "offscreen";
    }
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        if (const char* v = std::getenv(name); v != nullptr && *v != '\0') {
            return true;
        }
    }
    return false;
}

// Off screen Qt wants a private runtime folder; make one rather than print a warning.
void ensureRuntimeFolder() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir != '\0') {
        return;
    }
    const std::string dir = "/tmp/fieldmeter-runtime-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
}

// How often the screen is saved, for the line that says the program draws off screen.
std::string screenSaving(const std::string& path, double everySeconds) {
    if (everySeconds == 0.0) {
        return "not saving the screen (--screen-every 0)";
    }
    if (everySeconds == 1.0) {
        return "saving the screen to " + path + " every second";
    }
    return "saving the screen to " + path + " every " +
           QString::number(everySeconds).toStdString() + " seconds";
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
    if (devices.empty()) {
        say("no capture device found");
        return 1;
    }
    return 0;
}

void chooseMotionSource(const DeviceOptions& o, const QElapsedTimer& sinceStart) {
    if (!o.motionFile.empty()) {
        std::string error;
        auto replay = fm::platform::ReplayMotionSource::load(
            o.motionFile, [&sinceStart] { return sinceStart.nsecsElapsed() / 1e9; }, &error);
        if (replay) {
            fm::platform::setMotionSource(
                std::make_unique<fm::platform::ReplayMotionSource>(std::move(*replay)));
            return;
        }
        say("cannot replay motion: " + error + "; the keys [ and ] turn the device");
        return;
    }
    if (auto iio = fm::platform::IioMotionSource::open(fm::platform::defaultIioRoot())) {
        fm::platform::setMotionSource(
            std::make_unique<fm::platform::IioMotionSource>(std::move(*iio)));
    }
}

// Qt ends the process with exit() when the display connection is lost; the recording is ended
// and the files are closed on that road too.
fm::app::AppDelegate* gDelegate = nullptr;
void finishOnExit() {
    if (gDelegate != nullptr) {
        gDelegate->applicationWillTerminate();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A log or a pipe whose reader left is a failed write, said and tried again; never the end.
    ::signal(SIGPIPE, SIG_IGN);
    QElapsedTimer sinceStart;
    sinceStart.start();
    const std::vector<std::string> args(argv, argv + argc);
    auto parsed = fm::instrument::parseOptionsWithConfigFile(args);
    if (!parsed.options) {
        say(parsed.error + " (see --help)");
        return 2;
    }
    DeviceOptions options = *parsed.options;
    if (std::string why; !fm::measure::parseLimits(options.limits, &why)) {
        say(why);
        return 2;
    }
    const std::string program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString();
    if (options.help) {
        std::fputs(fm::instrument::usageText(program).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(fm::instrument::versionText().c_str(), stdout);
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

    // Options are all checked, ours and Qt's, before anything is said or made: the platform is
    // chosen quietly, and Qt's own check comes with the application object.
    const bool noDisplay = !options.headless && !hasDisplay(options);
    options.headless = options.headless || noDisplay;
    std::vector<std::string> qtArgs = options.passThrough;
    if (options.headless) {
        ensureRuntimeFolder();
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    std::vector<char*> qtArgv;
    for (auto& a : qtArgs) {
        qtArgv.push_back(a.data());
    }
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgs.size());

    // Qt's own event loop rather than GLib's: a meter wakes up well over a hundred times a
    // second, and each wake-up through GLib costs more than the work it does.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    QApplication app(qtArgc, qtArgv.data());
    const QStringList leftover = QCoreApplication::arguments().mid(1);
    if (!leftover.isEmpty()) {
        say("unknown option " + leftover.first().toStdString() + " (see --help)");
        return 2;
    }
    QApplication::setApplicationName("fieldmeter");
    QApplication::setDesktopFileName("fieldmeter");

    if (!options.documents.empty()) {
        fm::platform::setDocumentsFolder(options.documents);
    }
    const std::string screenPath = fm::platform::documentsFolder() + "/screen.png";
    if (noDisplay) {
        say("no display found; drawing off screen and " +
            screenSaving(screenPath, options.screenEverySeconds));
    } else if (options.headless) {
        say("drawing off screen; " + screenSaving(screenPath, options.screenEverySeconds));
    }
    if (fm::platform::ensureDocumentsFolderReporting()) {
        long holder = 0;
        std::string lockError;
        if (!fm::platform::lockDocumentsFolder(&lockError, &holder)) {
            if (holder != 0) {
                say("the documents folder " + fm::platform::documentsFolder() + " is in use by " +
                    (holder > 0 ? "process " + std::to_string(holder) : "another process") +
                    " (another fieldmeter); quit it or choose another folder with "
                    "--documents DIR");
                return 1;
            }
            say("cannot lock the documents folder: " + lockError);
        }
    }

    chooseMotionSource(options, sinceStart);
    using fm::instrument::InputChoice;
    const InputChoice input = fm::instrument::chooseAudioInput(options, true, say);
    if (input == InputChoice::Refused) {
        return 1;
    }
    const QString title = input == InputChoice::Demo ? "fieldmeter (demo input)" : "fieldmeter";

    // The calibration and the reports come before any screen: they never depend on one.
    fm::platform::QtCalibrationStore calibrationStore;
    fm::measure::Calibration calibration(fm::measure::soundLevelMeter(), calibrationStore);
    fm::instrument::setUpCalibration(options, micResponse, &calibration, say);
    fm::screen::setCalibration(&calibration, !options.headless);
    std::string reportError;
    std::unique_ptr<fm::instrument::LevelReports> reports =
        fm::instrument::LevelReports::start(options, &reportError);
    if (!reports) {
        say(reportError);
        return 1;
    }
    reports->setCalibration(&calibration);
    std::fputs(fm::instrument::startBlockNow("fieldmeter", options, calibration, reports->pageUrl())
                   .c_str(),
               stderr);

    fm::screen::setEventUnderWay([r = reports.get()] { return r->eventUnderWay(); });
    fm::screen::setRaisedLimits([r = reports.get()] { return r->raisedLimits(); });
    std::unique_ptr<fm::platform::DesktopNotifier> notifier;
    if (!options.limits.empty()) {
        // A raised limit is shown on the desktop where there is one (a session bus).
        std::string why;
        notifier = fm::platform::DesktopNotifier::connect(say, &why);
        if (notifier) {
            // Guarded: the reports' last seconds may still raise one after the notifier is gone.
            reports->addAlertListener(
                [n = QPointer(notifier.get())](const fm::measure::LimitAlert& alert) {
                    if (n && alert.kind == fm::measure::LimitAlert::Kind::Raised) {
                        n->notify(QString::fromStdString("fieldmeter: " + alert.name + " raised"),
                                  QString::fromStdString(fm::report::alertLine(alert)), true);
                    }
                });
        }
    }
    int status = 0;
    {
        fm::app::AppDelegate delegate(options, title);
        delegate.applicationDidFinishLaunchingWithOptions();
        std::unique_ptr<fm::app::HeadlessScreen> headless;
        if (options.headless) {
            headless = std::make_unique<fm::app::HeadlessScreen>(
                delegate.viewController(), QString::fromStdString(screenPath),
                options.scale.value_or(1.0), options.screenEverySeconds);
            headless->readKeysFrom(STDIN_FILENO);
        }
        reports->setYaw([controller = delegate.viewController()]() -> std::optional<double> {
            if (controller == nullptr || !controller->motionManager) {
                return std::nullopt;
            }
            const auto motion = controller->motionManager->deviceMotion();
            if (!motion) {
                return std::nullopt;
            }
            return motion->attitude.yaw * 180.0 / 3.14159265358979323846;
        });
        if (options.durationSeconds) {
            fm::instrument::quitAfter(*options.durationSeconds, &app);
        }
        fm::instrument::quitOnSignals();
        gDelegate = &delegate;
        std::atexit(finishOnExit);
        status = app.exec();
        delegate.applicationWillTerminate();
        gDelegate = nullptr;
        reports->setYaw({});
    }
    fm::screen::setCalibration(nullptr, false);
    fm::screen::setEventUnderWay({});
    fm::screen::setRaisedLimits({});
    // Rows that never reached their files (said with their counts) make the run a failure.
    if (reports->finish() > 0 && status == 0) {
        status = 1;
    }
    return status;
}
