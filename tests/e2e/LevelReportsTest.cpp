// The real program's sound-level log and metrics endpoint: the log after the program is killed,
// the failures it must survive, and the endpoint as a real Prometheus server scrapes it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrlQuery>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

QStringList logLines(const fs::path& path) {
    return QString::fromStdString(readText(path)).split('\n', Qt::SkipEmptyParts);
}

// A TCP socket bound to a free port of 127.0.0.1; listening when asked. Closed with the object.
struct LocalPort {
    explicit LocalPort(bool listen) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 &&
            (!listen || ::listen(fd, 1) == 0)) {
            port = ntohs(a.sin_port);
        }
    }
    ~LocalPort() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

class LevelReports : public ProgramRun {
  protected:
    // Collects the program's standard error until `pattern` matches it; the first capture.
    QString waitForStderr(const QString& pattern, int timeoutMs = 30000) {
        const QRegularExpression re(pattern);
        QString found;
        [[maybe_unused]] const bool ended = QTest::qWaitFor(
            [&] {
                stderr_ += QString::fromUtf8(process_.readAllStandardError());
                const auto m = re.match(stderr_);
                if (m.hasMatch()) {
                    found = m.captured(1);
                }
                return m.hasMatch() || process_.state() == QProcess::NotRunning;
            },
            timeoutMs);
        return found;
    }
};

TEST_F(LevelReports, LogKeptWholeThroughSigkillAndAppendedToByTheNextRun) {
    const fs::path log = dir_ / "levels.csv";
    start({"--input", "demo", "--log", QString::fromStdString(log.string())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return logLines(log).size() >= 5; }, 30000)) << readText(log);
    ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
    ASSERT_EQ(finish(), -2);  // killed, not ended
    const std::size_t rowsOfFirstRun = static_cast<std::size_t>(logLines(log).size()) - 1;

    start({"--input", "demo", "--log", QString::fromStdString(log.string()), "--duration", "2.5"});
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    const std::string text = readText(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "torn last line";
    const QStringList lines = logLines(log);
    ASSERT_GE(lines.size(), static_cast<qsizetype>(rowsOfFirstRun + 3));  // header + rows
    EXPECT_EQ(lines[0],
              "time_utc,LAeq_1s_dB,LAFmax_1s_dB,LCpeak_1s_dB,LZeq_1s_dB,raw_level,yaw_deg,"
              "calibrated,frames_dropped");
    const QRegularExpression time(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)");
    QDateTime previous;
    bool heardSomething = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(',');
        ASSERT_EQ(f.size(), 9) << "row " << i << ": " << lines[i].toStdString();
        ASSERT_TRUE(time.match(f[0]).hasMatch()) << lines[i].toStdString();
        const QDateTime t = QDateTime::fromString(f[0], Qt::ISODateWithMs);
        ASSERT_TRUE(t.isValid()) << lines[i].toStdString();
        if (previous.isValid()) {
            EXPECT_GT(t, previous) << "row " << i;
        }
        previous = t;
        for (int c = 1; c <= 6; ++c) {
            bool ok = false;
            const double v = f[c].toDouble(&ok);
            EXPECT_TRUE(ok && std::isfinite(v)) << lines[i].toStdString();
        }
        heardSomething = heardSomething || f[1].toDouble() > -120.0;
        EXPECT_TRUE(f[7] == "0" || f[7] == "1") << lines[i].toStdString();
        EXPECT_EQ(f[8], "0") << lines[i].toStdString();
    }
    EXPECT_TRUE(heardSomething) << "the demo signal never reached the log";
}

TEST_F(LevelReports, UnwritableLogAndBusyPortEachSayOneLineAndTheMetersKeepRunning) {
    const LocalPort busy(/*listen=*/true);
    ASSERT_GT(busy.port, 0);
    const QString port = QString::number(busy.port);
    start({"--input", "demo", "--duration", "2", "--log", "/nonexistent-fieldmeter/levels.csv",
           "--metrics", port});
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_EQ(stderr_.count("fieldmeter: cannot write the log /nonexistent-fieldmeter/levels.csv: "
                            "No such file or directory; the meters keep running without it\n"),
              1)
        << stderr_.toStdString();
    EXPECT_EQ(stderr_.count("fieldmeter: --metrics: cannot listen on 127.0.0.1:" + port +
                            ": Address already in use; the meters keep running without "
                            "metrics\n"),
              1)
        << stderr_.toStdString();
    EXPECT_TRUE(fs::exists(docsPath() / "screen.png"));  // the meters ran on
}

// A Prometheus server of the test's own, scraping one target every second.
class Prometheus {
  public:
    Prometheus(const fs::path& dir, int targetPort) : dir_(dir) {
        fs::create_directories(dir_ / "data");
        std::ofstream(dir_ / "prometheus.yml")
            << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
               "scrape_configs:\n  - job_name: fieldmeter\n    static_configs:\n"
               "      - targets: ['127.0.0.1:"
            << targetPort << "']\n";
    }
    ~Prometheus() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }
    // Starts it on a free port; true once its API answers.
    bool start() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = LocalPort(false).port;  // free now; another taker makes a retry
            process_.setProcessChannelMode(QProcess::MergedChannels);
            process_.start(
                "prometheus",
                {"--config.file=" + path("prometheus.yml"), "--storage.tsdb.path=" + path("data"),
                 "--web.listen-address=127.0.0.1:" + QString::number(port_)});
            if (!process_.waitForStarted(10000)) {
                log_ = process_.errorString();
                return false;
            }
            if (QTest::qWaitFor(
                    [&] {
                        return process_.state() == QProcess::NotRunning ||
                               get("/-/ready").first == 200;
                    },
                    60000) &&
                process_.state() == QProcess::Running) {
                return true;
            }
            log_ += QString::fromUtf8(process_.readAll());
            process_.kill();
            process_.waitForFinished(10000);
        }
        return false;
    }
    // The instant vector of a PromQL query: each series' labels and value.
    QJsonArray query(const QString& promql) {
        QUrlQuery q;
        q.addQueryItem("query", promql);
        const auto [status, body] = get("/api/v1/query?" + q.toString(QUrl::FullyEncoded));
        if (status != 200) {
            return {};
        }
        return QJsonDocument::fromJson(body).object()["data"].toObject()["result"].toArray();
    }
    QString log() { return log_ + QString::fromUtf8(process_.readAll()); }

  private:
    QString path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }
    std::pair<int, QByteArray> get(const QString& pathAndQuery) {
        QNetworkRequest request(QUrl("http://127.0.0.1:" + QString::number(port_) + pathAndQuery));
        std::unique_ptr<QNetworkReply> reply(network_.get(request));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) {
            reply->abort();
            return {0, {}};
        }
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll()};
    }

    fs::path dir_;
    QProcess process_;
    QNetworkAccessManager network_;
    int port_ = 0;
    QString log_;
};

double valueOf(const QJsonValue& series) {
    return series.toObject()["value"].toArray()[1].toString().toDouble();
}

TEST_F(LevelReports, PrometheusScrapesTheLevelsAndCounters) {
    const QString name = "roof \"north\"";  // the quotes must survive the label's escaping
    start({"--input", "demo", "--metrics", "0", "--name", name});
    const QString port = waitForStderr(R"(serving metrics at http://127\.0\.0\.1:(\d+)/metrics)");
    ASSERT_FALSE(port.isEmpty()) << stderr_.toStdString();

    Prometheus prometheus(dir_ / "prometheus", port.toInt());
    ASSERT_TRUE(prometheus.start()) << prometheus.log().toStdString();
    // Wait for two scrapes that saw frames: the counter grows between them.
    QJsonArray captured;
    double firstCount = -1.0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            captured = prometheus.query("fieldmeter_frames_captured_total");
            if (captured.size() != 1 || valueOf(captured[0]) <= 0.0) {
                return false;
            }
            if (firstCount < 0.0) {
                firstCount = valueOf(captured[0]);
            }
            return valueOf(captured[0]) > firstCount;
        },
        90000))
        << prometheus.log().toStdString();
    const QJsonObject labels = captured[0].toObject()["metric"].toObject();
    EXPECT_EQ(labels["meter"].toString(), name);
    EXPECT_EQ(labels["job"].toString(), "fieldmeter");

    const QJsonArray up = prometheus.query("up");
    ASSERT_EQ(up.size(), 1);
    EXPECT_EQ(valueOf(up[0]), 1.0);
    const QJsonArray calibrated = prometheus.query("fieldmeter_calibrated");
    ASSERT_EQ(calibrated.size(), 1);
    EXPECT_EQ(valueOf(calibrated[0]), 0.0);
    const QJsonArray dropped = prometheus.query("fieldmeter_recorder_frames_dropped_total");
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(valueOf(dropped[0]), 0.0);

    // Every level series, each finite; the demo signal is heard above the floor.
    std::map<QString, double> levels;
    for (const char* family : {"fieldmeter_sound_level_db", "fieldmeter_sound_leq_db",
                               "fieldmeter_sound_max_db", "fieldmeter_sound_peak_db"}) {
        for (const QJsonValue& s : prometheus.query(family)) {
            const QJsonObject m = s.toObject()["metric"].toObject();
            const QString key = QString(family) + "{" + m["weighting"].toString() + "," +
                                m["time_weighting"].toString() + "," + m["interval"].toString() +
                                "}";
            levels[key] = valueOf(s);
        }
    }
    EXPECT_EQ(levels.size(), 13u);
    for (const auto& [key, value] : levels) {
        EXPECT_TRUE(std::isfinite(value)) << key.toStdString();
    }
    EXPECT_GT((levels["fieldmeter_sound_level_db{A,fast,}"]), -120.0);
    EXPECT_GT((levels["fieldmeter_sound_leq_db{Z,,1s}"]), -120.0);
}

}  // namespace
}  // namespace fm::test
