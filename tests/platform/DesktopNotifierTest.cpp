// Desktop notifications on a real session bus of the test's own (dbus-daemon), read back by a
// notification service of the test's own on that bus.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
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
    std::vector<QStringList> shown;  // application, summary, body, urgency

  public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        shown.push_back({app, summary, body, QString::number(hints.value("urgency").toInt())});
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
        for (const char* name : {"fm-notifier", "fm-service", "fm-none"}) {
            QDBusConnection::disconnectFromBus(name);
        }
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
        }
    }
    std::unique_ptr<fm::platform::DesktopNotifier> notifier() {
        std::string why;
        auto n = fm::platform::DesktopNotifier::connect(
            [this](const std::string& line) { said_.push_back(line); }, &why,
            QDBusConnection::connectToBus(address_, "fm-notifier"));
        EXPECT_NE(n, nullptr) << why;
        return n;
    }

    pid_t daemon_ = 0;
    QString address_;
    std::vector<std::string> said_;
};

TEST_F(DesktopNotifierTest, ANotificationReachesTheServiceOnTheSessionBus) {
    NotificationService service;
    QDBusConnection serviceBus = QDBusConnection::connectToBus(address_, "fm-service");
    ASSERT_TRUE(serviceBus.registerObject("/org/freedesktop/Notifications", &service,
                                          QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceBus.registerService("org.freedesktop.Notifications"));
    auto n = notifier();
    ASSERT_NE(n, nullptr);
    n->notify("night raised", "LAeq_15m 47.3 dB > 45", true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown.empty(); }, 20000));
    EXPECT_EQ(service.shown[0],
              QStringList({"fieldmeter", "night raised", "LAeq_15m 47.3 dB > 45", "2"}));
    EXPECT_TRUE(said_.empty());
}

TEST_F(DesktopNotifierTest, WithoutAServiceTheFailureIsSaidOnceAndWithoutABusThereIsNoNotifier) {
    auto n = notifier();
    ASSERT_NE(n, nullptr);
    n->notify("one", "", false);
    n->notify("two", "", false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !said_.empty(); }, 20000));
    QTest::qWait(200);  // the second failure's answer has had time to come
    ASSERT_EQ(said_.size(), 1u);
    EXPECT_NE(said_[0].find("could not be shown"), std::string::npos) << said_[0];
    std::string why;
    EXPECT_EQ(fm::platform::DesktopNotifier::connect(
                  {}, &why, QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "fm-none")),
              nullptr);
    EXPECT_FALSE(why.empty());
}

}  // namespace

#include "DesktopNotifierTest.moc"
