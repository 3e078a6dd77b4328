// The monitor delivering every second to a real broker through an outage in which it is killed
// and started again: a subscriber with a persistent session gets every second's number, the
// backlog replayed in order.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QRegularExpression>
#include <map>
#include <string>
#include <vector>

#include "deliver/Servers.h"
#include "e2e/ProgramRunner.h"

namespace fm::test {
namespace {

using fm::deliver::test::Server;
using fm::deliver::test::waitFor;

class MonitorDelivery : public ProgramRun {
  protected:
    void startMonitor(QProcess* process, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
        process->setProcessEnvironment(env);
        process->start(FM_MONITOR, args);
        ASSERT_TRUE(process->waitForStarted(10000));
    }
    // The rows of the log so far (header left out).
    int loggedSeconds() {
        std::ifstream in(dir_ / "log.csv");
        int rows = -1;
        for (std::string line; std::getline(in, line);) {
            ++rows;
        }
        return std::max(rows, 0);
    }
};

TEST_F(MonitorDelivery, EverySecondReachesTheBrokerThroughAnOutageAndAKill) {
    Server broker{"start-mosquitto.sh", (dir_ / "broker").string(), ""};
    std::filesystem::create_directories(dir_ / "broker");
    ASSERT_TRUE(broker.start());
    const QString port = QString::number(broker.port);

    // The subscriber's session outlives the broker's restart and its own reconnections.
    QProcess subscriber;
    subscriber.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", port, "-c", "-i", "fm-e2e-sub",
                                       "-q", "1", "-t", "fieldmeter/pole/#", "-v"});
    ASSERT_TRUE(subscriber.waitForStarted(10000));
    QString received;
    auto receivedSoFar = [&] {
        subscriber.waitForReadyRead(100);
        received += QString::fromUtf8(subscriber.readAllStandardOutput());
        return received;
    };
    // It listens once it gets what is published after it.
    ASSERT_TRUE(waitFor([&] {
        QProcess::execute("mosquitto_pub", {"-h", "127.0.0.1", "-p", port, "-q", "1", "-t",
                                            "fieldmeter/pole/probe", "-m", "x"});
        return receivedSoFar().contains("fieldmeter/pole/probe");
    }));

    writeInput(dir_ / "tone.wav", 3.0);
    const QStringList args = {"--input",     QString::fromStdString((dir_ / "tone.wav").string()),
                              "--documents", docs(),
                              "--name",      "pole",
                              "--log",       QString::fromStdString((dir_ / "log.csv").string()),
                              "--mqtt",      "mqtt://127.0.0.1:" + port};
    QProcess first;
    startMonitor(&first, args);
    ASSERT_TRUE(waitFor([&] { return receivedSoFar().contains("\"seq\":3,"); }));

    // The outage: seconds queue on disk; then the meter is killed and started again in it.
    broker.stop();
    const int before = loggedSeconds();
    ASSERT_TRUE(waitFor([&] { return loggedSeconds() >= before + 4; }));
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished(10000);
    QProcess second;
    startMonitor(&second, args);
    const int restarted = loggedSeconds();
    ASSERT_TRUE(waitFor([&] { return loggedSeconds() >= restarted + 4; }));

    ASSERT_TRUE(broker.start());  // the same port and its saved sessions
    const auto last =
        std::stoull(fm::deliver::test::readText(docs().toStdString() + "/outbox/seq"));
    ASSERT_GT(last, 10u);

    // Every number from 1 to the last one counted by then, each first seen in order (the
    // at-least-once edge may repeat a few, which a consumer drops by their number).
    std::vector<unsigned long long> order;
    std::map<unsigned long long, int> seen;
    const QRegularExpression seq(R"(fieldmeter/pole/second \{[^\n]*"seq":(\d+),)");
    auto everyOneUpTo = [&](unsigned long long end) {
        receivedSoFar();
        order.clear();
        seen.clear();
        for (auto it = seq.globalMatch(received); it.hasNext();) {
            const auto n = it.next().captured(1).toULongLong();
            if (seen[n]++ == 0) {
                order.push_back(n);
            }
        }
        for (unsigned long long n = 1; n <= end; ++n) {
            if (seen.count(n) == 0) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(waitFor([&] { return everyOneUpTo(last); }))
        << "received " << seen.size() << " of " << last;
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    second.terminate();
    EXPECT_TRUE(second.waitForFinished(30000));
    subscriber.kill();
    subscriber.waitForFinished(5000);
}

}  // namespace
}  // namespace fm::test
