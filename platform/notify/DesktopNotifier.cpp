#include "platform/notify/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace fm::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, Say say)
    : bus_(std::move(bus)), say_(std::move(say)) {}

std::unique_ptr<DesktopNotifier> DesktopNotifier::connect(Say say, std::string* why,
                                                          QDBusConnection bus) {
    if (!bus.isConnected()) {
        *why =
            bus.lastError().isValid() ? bus.lastError().message().toStdString() : "no session bus";
        return nullptr;
    }
    return std::unique_ptr<DesktopNotifier>(new DesktopNotifier(std::move(bus), std::move(say)));
}

void DesktopNotifier::notify(const QString& summary, const QString& body, bool urgent) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(urgent ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("fieldmeter"));
    call << QStringLiteral("fieldmeter") << 0u << QStringLiteral("dialog-warning") << summary
         << body << QStringList() << hints << -1;
    // Never waited for: the answer comes to the event loop, and only a failure is looked at.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this](QDBusPendingCallWatcher* w) {
                         const QDBusPendingReply<uint> reply = *w;
                         if (reply.isError() && !failureSaid_ && say_) {
                             failureSaid_ = true;
                             say_("a desktop notification could not be shown: " +
                                  reply.error().message().toStdString());
                         }
                         w->deleteLater();
                     });
}

}  // namespace fm::platform
