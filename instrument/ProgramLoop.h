#pragma once
// What both programs' event loops share: an end after --duration, and the signals that end a
// run cleanly (SIGINT, SIGTERM; SIGHUP unless the program gives it a meaning of its own).
#include <QObject>
#include <functional>

namespace fm::instrument {

// Ends the loop after `seconds`. Qt's timers count milliseconds in an int, which a run of more
// than 24.8 days overflows: the wait is taken at most a day at a time, against a monotonic
// deadline.
void quitAfter(double seconds, QObject* context);

// SIGINT and SIGTERM end the loop like closing the window, so a recording is ended and the
// files are closed. SIGHUP does the same unless `onHangUp` is given, which then runs on the
// main thread instead (the service convention: reopen the outputs).
void quitOnSignals(std::function<void()> onHangUp = {});

}  // namespace fm::instrument
