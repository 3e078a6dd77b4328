#pragma once
// Keeping the screen awake (setIdleTimerDisabled:): asks the desktop's screensaver
// (org.freedesktop.ScreenSaver Inhibit on the session bus) not to blank the screen. Without a
// session bus or a screensaver service it does nothing, quietly: there is nothing to keep awake.
#include <QString>
#include <cstdint>

namespace fm::toolkit {

// YES inhibits the screensaver (once; later calls keep the same inhibition), NO lifts it.
// Returns whether an inhibition is in force afterwards.
bool setIdleTimerDisabled(bool disabled);
bool idleTimerDisabled();

// For tests: the service name to talk to (default "org.freedesktop.ScreenSaver").
void setScreenSaverService(const QString& service);

}  // namespace fm::toolkit
