// Desktop notifications on a real session bus of the test's own (dbus-daemon), read back by a
// notification service of the test's own on that bus.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QTest>
#include <QVariantMap>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/notify/DesktopNotifier.h"

namespace {

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    struct Shown {
        QString app, summary, body;
        int urgency;
    };
    std::vector<Shown> shown;

  public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        shown.push_back({app, summary, body, hints.value("urgency").toInt()});
        return static_cast<uint>(shown.size());
    }
};

class DesktopNotifierTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        ASSERT_NE(out, nullptr);
        char address[512] = "";
        long pid = 0;
        const bool read = std::fscanf(out, "%511s %ld", address, &pid) == 2;
        ::pclose(out);
        ASSERT_TRUE(read) << "dbus-daemon did not start";
        daemon_ = static_cast<pid_t>(pid);
        address_ = QString::fromLatin1(address);
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus("fm-notifier");
        QDBusConnection::disconnectFromBus("fm-service");
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
        }
    }
    QDBusConnection bus(const char* name) { return QDBusConnection::connectToBus(address_, name); }

    pid_t daemon_ = 0;
    QString address_;
};

TEST_F(DesktopNotifierTest, ANotificationReachesTheServiceOnTheSessionBus) {
    NotificationService service;
    QDBusConnection serviceBus = bus("fm-service");
    ASSERT_TRUE(serviceBus.registerObject("/org/freedesktop/Notifications", &service,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceBus.registerService("org.freedesktop.Notifications"));
    std::vector<std::string> said;
    std::string why;
    auto notifier = fm::platform::DesktopNotifier::connect(
        [&](const std::string& line) { said.push_back(line); }, &why, bus("fm-notifier"));
    ASSERT_NE(notifier, nullptr) << why;
    notifier->notify("night raised", "LAeq_15m 47.3 dB > 45", true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown.empty(); }, 20000));
    EXPECT_EQ(service.shown[0].app, "fieldmeter");
    EXPECT_EQ(service.shown[0].summary, "night raised");
    EXPECT_EQ(service.shown[0].body, "LAeq_15m 47.3 dB > 45");
    EXPECT_EQ(service.shown[0].urgency, 2);
    EXPECT_TRUE(said.empty());
}

TEST_F(DesktopNotifierTest, WithoutAServiceTheFailureIsSaidOnceAndWithoutABusThereIsNoNotifier) {
    std::vector<std::string> said;
    std::string why;
    auto notifier = fm::platform::DesktopNotifier::connect(
        [&](const std::string& line) { said.push_back(line); }, &why, bus("fm-notifier"));
    ASSERT_NE(notifier, nullptr) << why;
    notifier->notify("one", "", false);
    notifier->notify("two", "", false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !said.empty(); }, 20000));
    QTest::qWait(200);  // the second failure's answer has had time to come
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("could not be shown"), std::string::npos) << said[0];

    EXPECT_EQ(fm::platform::DesktopNotifier::connect(
                  {}, &why, QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "fm-none")),
              nullptr);
    EXPECT_FALSE(why.empty());
    QDBusConnection::disconnectFromBus("fm-none");
}

}  // namespace

#include "DesktopNotifierTest.moc"
