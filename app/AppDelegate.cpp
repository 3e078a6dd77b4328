#include "app/AppDelegate.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>

#include "app/ScreenWindow.h"
#include "screen/ViewController.h"
#include "toolkit/Images.h"

namespace fm::app {

AppDelegate::AppDelegate(fm::instrument::DeviceOptions options, QString windowTitle)
    : options_(std::move(options)), title_(std::move(windowTitle)) {}

// The controller goes first, then the window. On a desktop the window's scene holds the
// controller's view and releases it with the window.
AppDelegate::~AppDelegate() {
    headlessController_.reset();
    window_.reset();
}

void AppDelegate::applicationWillTerminate() {
    if (viewController_ != nullptr) {
        viewController_->finishBeforeQuit();
    }
}

QWidget* AppDelegate::window() const {
    if (window_) {
        return window_.get();
    }
    return headlessController_.get();
}

bool AppDelegate::applicationDidFinishLaunchingWithOptions() {
    // The program's icon, for the window and every dialog over it (alerts, the composer).
    QApplication::setWindowIcon(QIcon(fm::toolkit::imageNamed(QStringLiteral("fieldmeter.png"))));
    const int height = fm::instrument::screenHeightPoints(options_);
    auto* controller = new fm::screen::ViewController("ViewController", height);
    // The controller keeps the title (it says when there is no input); the window shows it.
    controller->setWindowTitle(title_);
    controller->view();  // loads the layout and runs viewDidLoad
    viewController_ = controller;
    if (options_.headless) {
        // Without a display nothing is shown: the screen is drawn only when it is saved
        // (HeadlessScreen), rather than ten times a second for nobody to see.
        headlessController_.reset(controller);
        controller->ensurePolished();
        return true;
    }
    double scale = options_.scale.value_or(1.0);
    if (!options_.scale) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            scale = fm::instrument::defaultScale(area.width(), area.height(), height);
        }
    }
    window_ = std::make_unique<ScreenWindow>(controller, scale);
    window_->setWindowTitle(controller->windowTitle());
    QObject::connect(controller, &QWidget::windowTitleChanged, window_.get(),
                     &QWidget::setWindowTitle);
    QObject::connect(controller, &fm::screen::ViewController::interfaceOrientationChanged,
                     window_.get(), &ScreenWindow::setInterfaceOrientation);
    window_->show();
    controller->setFocus();
    return true;
}

}  // namespace fm::app
