#pragma once
// The application delegate: when launching has finished it makes the one window the size of
// the device's screen and installs the ViewController, loaded from the layout "ViewController",
// as its root. It holds both for the life of the process.
#include <QObject>
#include <QString>
#include <memory>

#include "instrument/DeviceOptions.h"

class QWidget;

namespace fm::screen {
class ViewController;
}

namespace fm::app {

class ScreenWindow;

class AppDelegate : public QObject {
    Q_OBJECT

  public:
    explicit AppDelegate(fm::instrument::DeviceOptions options, QString windowTitle);
    ~AppDelegate() override;

    bool applicationDidFinishLaunchingWithOptions();
    // The phone's other lifecycle notifications: nothing to do on the first four.
    void applicationWillResignActive() {}
    void applicationDidEnterBackground() {}
    void applicationWillEnterForeground() {}
    void applicationDidBecomeActive() {}
    // The program is ending: a recording in progress is ended and the files are closed.
    void applicationWillTerminate();

    fm::screen::ViewController* viewController() const { return viewController_; }
    QWidget* window() const;

  private:
    fm::instrument::DeviceOptions options_;
    QString title_;
    std::unique_ptr<ScreenWindow> window_;                            // with a display
    std::unique_ptr<fm::screen::ViewController> headlessController_;  // without one
    fm::screen::ViewController* viewController_ = nullptr;
};

}  // namespace fm::app
