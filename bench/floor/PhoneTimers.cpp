// fieldmeter-phone-timers: the main-thread timers the phone's screen runs whatever it measures
// (the accelerometer every 10 ms, the gyroscope every 1/30 s, the meter every 0.1 s, the counter
// every second), each doing nothing, in Qt's event loop as fieldmeter runs them. Measured beside
// fieldmeter and the floor, it tells how much of fieldmeter's cost those wake-ups are alone.
// Usage: fieldmeter-phone-timers SECONDS
#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>

int main(int argc, char** argv) {
    qputenv("QT_NO_GLIB", "1");  // as fieldmeter runs its loop
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    for (const int ms : {10, 33, 100, 1000}) {
        auto* timer = new QTimer(&app);
        timer->setTimerType(Qt::CoarseTimer);
        QObject::connect(timer, &QTimer::timeout, [] {});
        timer->start(ms);
    }
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), &app, &QCoreApplication::quit);
    return app.exec();
}
