#pragma once
// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus, where one exists. A notification is sent
// without waiting for the answer; the first that fails is said once, and later ones are still
// tried (a notification daemon may start later).
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace fm::platform {

class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    using Say = std::function<void(const std::string&)>;

    // Null when the bus cannot be reached (no session bus: a server, a service), with *why.
    static std::unique_ptr<DesktopNotifier> connect(
        Say say, std::string* why, QDBusConnection bus = QDBusConnection::sessionBus());

    // Shows `summary` with `body` under the program's name; `urgent` asks the desktop to keep
    // it until it is seen.
    void notify(const QString& summary, const QString& body, bool urgent);

  private:
    DesktopNotifier(QDBusConnection bus, Say say);

    QDBusConnection bus_;
    Say say_;
    bool failureSaid_ = false;
};

}  // namespace fm::platform
