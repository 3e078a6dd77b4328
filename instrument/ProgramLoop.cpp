#include "instrument/ProgramLoop.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace fm::instrument {

void quitAfter(double seconds, QObject* context) {
    static constexpr qint64 kDayMs = 86'400'000;
    const QDeadlineTimer deadline(static_cast<qint64>(std::llround(seconds * 1000.0)),
                                  Qt::PreciseTimer);
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    auto arm = [timer, deadline] {
        timer->start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, kDayMs)));
    };
    QObject::connect(timer, &QTimer::timeout, context, [deadline, arm] {
        if (deadline.hasExpired()) {
            QCoreApplication::quit();
        } else {
            arm();
        }
    });
    arm();
}

namespace {

// The handler only writes the signal's number into a pipe; the loop reads it.
int gSignalPipe[2] = {-1, -1};
void onSignal(int signal) {
    const char c = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

}  // namespace

void quitOnSignals(std::function<void()> onHangUp) {
    if (gSignalPipe[0] < 0 && ::pipe(gSignalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [onHangUp] {
        char c = 0;
        if (::read(gSignalPipe[0], &c, 1) == 1 && c == SIGHUP && onHangUp) {
            onHangUp();
            return;
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

}  // namespace fm::instrument
