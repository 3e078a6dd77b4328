#include "toolkit/IdleTimer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <optional>

namespace fm::toolkit {
namespace {

QString& serviceName() {
    static QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    return name;
}

std::optional<uint32_t>& cookie() {
    static std::optional<uint32_t> value;
    return value;
}

constexpr int kCallTimeoutMs = 2000;

}  // namespace

void setScreenSaverService(const QString& service) {
    serviceName() = service;
}

bool idleTimerDisabled() {
    return cookie().has_value();
}

bool setIdleTimerDisabled(bool disabled) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(serviceName()).value()) {
        return idleTimerDisabled();
    }
    QDBusInterface screenSaver(serviceName(), QStringLiteral("/org/freedesktop/ScreenSaver"),
                               QStringLiteral("org.freedesktop.ScreenSaver"), bus);
    screenSaver.setTimeout(kCallTimeoutMs);
    if (disabled && !cookie()) {
        const QString app = QCoreApplication::applicationName().isEmpty()
                                ? QStringLiteral("fieldmeter")
                                : QCoreApplication::applicationName();
        const QDBusReply<uint32_t> reply = screenSaver.call(
            QStringLiteral("Inhibit"), app, QStringLiteral("Showing the live field meter"));
        if (reply.isValid()) {
            cookie() = reply.value();
        }
    } else if (!disabled && cookie()) {
        screenSaver.call(QStringLiteral("UnInhibit"), *cookie());
        cookie().reset();
    }
    return idleTimerDisabled();
}

}  // namespace fm::toolkit
