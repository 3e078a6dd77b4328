// Keeping the screen awake, against a real private session bus with a stand-in screensaver.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <atomic>

#include "toolkit/IdleTimer.h"

namespace {

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

  public:
    // Served on a thread of its own: the program's calls block the main thread until answered.
    std::atomic<int> inhibits{0};
    std::atomic<int> uninhibits{0};
    std::atomic<bool> namedApplication{false};
    static constexpr uint kCookie = 4242;

  public slots:
    uint Inhibit(const QString& app, const QString& reason) {
        namedApplication = !app.isEmpty() && !reason.isEmpty();
        ++inhibits;
        return kCookie;
    }
    void UnInhibit(uint cookie) {
        if (cookie == kCookie) {
            ++uninhibits;
        }
    }
};

}  // namespace

TEST(IdleTimer, InhibitsTheScreenSaverOnceAndLiftsIt) {
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty()) {
        GTEST_SKIP() << "dbus-daemon is not installed (scripts/debian-packages.txt lists it)";
    }
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(bus.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus.canReadLine(); }, 10000));
    const QByteArray address = bus.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    // No screensaver on the bus yet: nothing happens, and nothing fails.
    EXPECT_FALSE(fm::toolkit::setIdleTimerDisabled(true));

    QDBusConnection service = QDBusConnection::connectToBus(QString::fromUtf8(address), "saver");
    ASSERT_TRUE(service.isConnected());
    FakeScreenSaver saver;
    QThread saverThread;
    saver.moveToThread(&saverThread);
    saverThread.start();
    ASSERT_TRUE(service.registerObject("/org/freedesktop/ScreenSaver", &saver,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));

    EXPECT_TRUE(fm::toolkit::setIdleTimerDisabled(true));
    EXPECT_TRUE(fm::toolkit::setIdleTimerDisabled(true));  // still the one inhibition
    EXPECT_EQ(saver.inhibits, 1);
    EXPECT_TRUE(saver.namedApplication);
    EXPECT_TRUE(fm::toolkit::idleTimerDisabled());

    EXPECT_FALSE(fm::toolkit::setIdleTimerDisabled(false));
    // UnInhibit is a call without an answer we wait for: let the service see it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return saver.uninhibits == 1; }, 5000));

    service.unregisterObject("/org/freedesktop/ScreenSaver");
    QDBusConnection::disconnectFromBus("saver");
    saverThread.quit();
    saverThread.wait();
    bus.terminate();
    bus.waitForFinished(5000);
}

#include "IdleTimerTest.moc"
