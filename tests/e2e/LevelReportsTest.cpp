// The real program's sound-level log and metrics endpoint: the log after the program is killed,
// the failures it must survive, and the endpoint as a real Prometheus server scrapes it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

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
#include "tests/report/FullDisk.h"

namespace fm::test {
namespace {

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
    // The body of GET http://127.0.0.1:port/path, "" when there is no answer.
    QString get(const QString& port, const QString& path) {
        QNetworkRequest request(QUrl("http://127.0.0.1:" + port + path));
        std::unique_ptr<QNetworkReply> reply(network_.get(request));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) {
            return {};
        }
        return QString::fromUtf8(reply->readAll());
    }
    QNetworkAccessManager network_;
};

TEST_F(LevelReports, EverySecondOfAFileIsLoggedOnceThroughAStopAndTheEndSaysNoInput) {
    // 100 Hz at -20 dBFS (A and C read it 19.1 and 0.3 dB lower), a second of a square four
    // times full scale, a second of silence.
    std::vector<float> samples;
    for (int i = 0; i < 3 * 44100; ++i) {
        samples.push_back(static_cast<float>(0.1 * std::sin(2.0 * M_PI * 100.0 * i / 44100.0)));
    }
    for (int i = 0; i < 44100; ++i) {
        samples.push_back((i / 220) % 2 == 0 ? 4.0f : -4.0f);
    }
    samples.resize(samples.size() + 44100, 0.0f);
    writeFloatWav(dir_ / "input.wav", samples);
    const fs::path log = dir_ / "levels.csv";
    start({"--input", QString::fromStdString((dir_ / "input.wav").string()), "--log",
           QString::fromStdString(log.string()), "--metrics", "0", "--duration", "12"});
    const QString port = waitForStderr(R"(serving metrics at http://127\.0\.0\.1:(\d+)/metrics)");
    ASSERT_FALSE(port.isEmpty()) << stderr_.toStdString();
    // A stopped process: the file goes on where it was, a little late, and every second comes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return logLines(log).size() >= 2; }, 20000));
    ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
    QTest::qWait(3000);
    ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
    waitForStderr("(input.wav ended)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return logRows(log).back()["input"] == "ended"; }, 20000));

    const QString metrics = get(port, "/metrics");
    EXPECT_TRUE(metrics.contains(R"(fieldmeter_input_up{meter=")")) << metrics.toStdString();
    EXPECT_TRUE(metrics.contains(R"(,input="ended"} 0)")) << metrics.toStdString();
    EXPECT_FALSE(metrics.contains("fieldmeter_sound_level_db{")) << metrics.toStdString();
    EXPECT_FALSE(metrics.contains(R"(interval="1s")")) << metrics.toStdString();
    EXPECT_TRUE(metrics.contains(
        QRegularExpression(R"(\nfieldmeter_overload_samples_total\{meter="[^"]*"\} 44100\n)")))
        << metrics.toStdString();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    const auto rows = logRows(log);
    std::vector<std::map<QString, QString>> measured;
    QDateTime previous;
    for (const auto& row : rows) {
        const QDateTime t = QDateTime::fromString(row.at("time_utc"), Qt::ISODateWithMs);
        ASSERT_TRUE(t.isValid()) << row.at("time_utc").toStdString();
        EXPECT_TRUE(!previous.isValid() || t > previous);
        previous = t;
        if (row.at("input") == "file") {
            measured.push_back(row);
        } else {
            EXPECT_EQ(row.at("input"), "ended");
            EXPECT_EQ(row.at("LAeq_1s_dB"), "");
            EXPECT_EQ(row.at("LZeq_1s_1kHz_dB"), "");
            EXPECT_EQ(row.at("overload"), "");
        }
    }
    ASSERT_EQ(measured.size(), 5u) << "each second of the file once";
    EXPECT_GE(rows.size(), 7u);
    EXPECT_LE(rows.size(), 13u);
    for (int s = 0; s < 3; ++s) {
        EXPECT_NEAR(measured[s].at("LAeq_1s_dB").toDouble(), -39.15, 0.2) << s;
        EXPECT_NEAR(measured[s].at("LCeq_1s_dB").toDouble(), -20.3, 0.2) << s;
        EXPECT_NEAR(measured[s].at("LZeq_1s_dB").toDouble(), -20.0, 0.05) << s;
        EXPECT_EQ(measured[s].at("overload"), "0");
        EXPECT_EQ(measured[s].at("calibrated"), "0");
    }
    // Measured at its true level, and said to be overloaded.
    EXPECT_NEAR(measured[3].at("LZeq_1s_dB").toDouble(), 15.05, 0.05);
    EXPECT_EQ(measured[3].at("overload"), "44100");
    EXPECT_EQ(measured[4].at("overload"), "0");
    EXPECT_LT(measured[4].at("LZeq_1s_dB").toDouble(), -60.0);
}

TEST_F(LevelReports, ASummaryFollowsTheClockWithEachPeriodsOwnLevelsAndBands) {
    // The clock runs ten times too fast (libfaketime), so that periods of a minute pass in
    // seconds; the sound is paced by the same clock.
    const char* faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (!fs::exists(faketime)) {
        GTEST_SKIP() << "faketime is not installed";
    }
    // 5 s of 1 kHz at -20 dBFS, then -40 dBFS for longer than the run.
    std::vector<float> samples;
    for (int i = 0; i < 200 * 44100; ++i) {
        const double amplitude = i < 5 * 44100 ? 0.1 : 0.01;  // a full-scale sine is 0 dBFS
        samples.push_back(
            static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * i / 44100.0)));
    }
    writeFloatWav(dir_ / "steps.wav", samples);
    extraEnv_.insert("LD_PRELOAD", faketime);
    extraEnv_.insert("FAKETIME", "@2026-12-08 10:00:40 x10");
    extraEnv_.insert("TZ", "UTC");
    extraEnv_.insert("ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0");
    const fs::path summary = dir_ / "summary.csv";
    start({"--input", QString::fromStdString((dir_ / "steps.wav").string()), "--summary",
           QString::fromStdString(summary.string()), "--period", "1m", "--screen-every", "0",
           "--duration", "100"});
    ASSERT_EQ(finish(120000), 0) << stderr_.toStdString();

    const auto rows = logRows(summary);
    ASSERT_EQ(rows.size(), 3u) << readText(summary);
    EXPECT_EQ(rows[0].at("start_utc"), "2026-12-08T10:00:00.000Z");
    EXPECT_EQ(rows[0].at("complete"), "1");
    const double first = rows[0].at("LAeq_T_dB").toDouble();
    EXPECT_GT(first, -39.0);  // the loud start is in it
    EXPECT_LT(first, -21.0);
    // The whole minute at -40 dBFS: every statistic reads it.
    const auto& full = rows[1];
    EXPECT_EQ(full.at("row"), "period");
    EXPECT_EQ(full.at("start_utc"), "2026-12-08T10:01:00.000Z");
    EXPECT_EQ(full.at("end_utc"), "2026-12-08T10:02:00.000Z");
    EXPECT_EQ(full.at("complete"), "1");
    EXPECT_NEAR(full.at("measured_s").toDouble(), 60.0, 1.0);
    EXPECT_EQ(full.at("no_input_s"), "0");
    for (const char* level : {"LAeq_T_dB", "LAFmax_T_dB", "LAFmin_T_dB", "LA10_T_dB", "LA50_T_dB",
                              "LA90_T_dB", "LA95_T_dB", "LCeq_T_dB", "LZeq_T_1kHz_dB"}) {
        EXPECT_NEAR(full.at(level).toDouble(), -40.0, 0.1) << level;
    }
    EXPECT_NEAR(full.at("LCpeak_T_dB").toDouble(), -40.0 + 3.01, 0.1);
    EXPECT_LT(full.at("LZeq_T_2kHz_dB").toDouble(), -70.0);  // the next band but two, empty
    EXPECT_EQ(rows[2].at("start_utc"), "2026-12-08T10:02:00.000Z");
    EXPECT_EQ(rows[2].at("complete"), "0");  // cut short by the end of the run
}

TEST_F(LevelReports, ALogOnAPipeOrAFifoNeverStopsTheProgramNorARecording) {
    // As `fieldmeter --log /dev/stdout | head -n 3`: the reader leaves early.
    const QString docs = this->docs();
    QProcess shell;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
    shell.setProcessEnvironment(env);
    shell.start("bash", {"-c",
                         "\"$0\" --headless --input demo --documents \"$1\" --log /dev/stdout "
                         "--duration 5 2>\"$1/../err\" | head -n 3 >\"$1/../head\"; "
                         "echo \"${PIPESTATUS[0]}\" >\"$1/../status\"",
                         FM_PROGRAM, docs});
    ASSERT_TRUE(shell.waitForStarted(10000));
    shell.write("Space\nR\n");
    ASSERT_TRUE(shell.waitForFinished(60000));
    // The rows after the reader left are lost: said with their count, and the status says so.
    EXPECT_EQ(readText(dir_ / "status"), "1\n");
    const std::string err = readText(dir_ / "err");
    EXPECT_NE(err.find("fieldmeter: cannot write the log /dev/stdout: Broken pipe"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find(" of the log could not be written and "), std::string::npos) << err;
    EXPECT_NE(err.find(" lost: /dev/stdout"), std::string::npos) << err;
    EXPECT_TRUE(logLines(dir_ / "head").value(0).startsWith("time_utc,"))
        << readText(dir_ / "head");
    // The console lines of the recording's start went to standard error, not among the rows.
    EXPECT_TRUE(logLines(dir_ / "head").value(1).startsWith("20")) << readText(dir_ / "head");
    EXPECT_NE(err.find("\nstopRecording\nOSStatus(ExtAudioFileDispose): "), std::string::npos);
    // The recording went on to the end: whole, with its summary and its motion.
    EXPECT_GT(readAll(docsPath() / "output2.caf").size(), 44100u * 2);
    EXPECT_TRUE(fs::exists(docsPath() / "output2.txt")) << err;
    EXPECT_TRUE(fs::exists(docsPath() / "rawAccel.out")) << err;

    // A FIFO nobody reads yet: not waited for; a reader that comes gets the header and the rows.
    const fs::path fifo = dir_ / "levels.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    start({"--input", "demo", "--log", QString::fromStdString(fifo.string()), "--duration", "4"});
    ASSERT_FALSE(waitForStderr("(has no reader yet)").isEmpty()) << stderr_.toStdString();
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::string received;
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const QStringList lines = QString::fromStdString(received).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3) << received;
    EXPECT_TRUE(lines[0].startsWith("time_utc,time_local,LAeq_1s_dB,")) << received;
    EXPECT_TRUE(lines[1].contains(",0,0,0,,0,0.00,demo,")) << received;  // never calibrated
}

TEST_F(LevelReports, RowsAFullDiskKeptUntilTheEndAreCountedAndTheStatusIsOne) {
    FullDisk disk("fm-e2e-disk", 256 * 1024);
    if (!disk.mounted) {
        GTEST_SKIP() << "this process may not mount a tmpfs (not root)";
    }
    start({"--input", "demo", "--log", QString::fromStdString((disk.root / "l.csv").string())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(disk.root / "l.csv") > 1000; }, 30000));
    disk.fill();
    ASSERT_FALSE(waitForStderr("(cannot write the log )", 60000).isEmpty())
        << stderr_.toStdString();
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    EXPECT_EQ(finish(), 1) << stderr_.toStdString();
    EXPECT_GE(QRegularExpression(R"(fieldmeter: (\d+) rows? of the log could not be written and )"
                                 R"((is|are) lost: .*l\.csv)")
                  .match(stderr_)
                  .captured(1)
                  .toInt(),
              1)
        << stderr_.toStdString();
}

TEST_F(LevelReports, WhatCannotBeLoggedOrServedStopsTheProgramAtTheStart) {
    start({"--input", "demo", "--duration", "5", "--log", "/nonexistent-fieldmeter/levels.csv"});
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(
        stderr_.contains("fieldmeter: cannot write /nonexistent-fieldmeter/levels.csv: "
                         "No such file or directory\n"))
        << stderr_.toStdString();
    // Nothing to measure: the demo signal is no stand-in for a logger or an endpoint.
    for (const QStringList& what :
         {QStringList{"--log", QString::fromStdString((dir_ / "l.csv").string()),
                      "--capture-device", "no-such-fieldmeter-device"},
          QStringList{"--metrics", "0", "--input",
                      QString::fromStdString((dir_ / "missing.wav").string())}}) {
        stderr_.clear();
        start(what + QStringList{"--duration", "5"});
        EXPECT_EQ(finish(), 1) << what.join(' ').toStdString();
        EXPECT_TRUE(stderr_.contains("; nothing to measure, so nothing is logged or served"))
            << stderr_.toStdString();
    }
    EXPECT_FALSE(fs::exists(dir_ / "l.csv"));
    // A server asked for and unable to listen stops the start too.
    const LocalPort busy(/*listen=*/true);
    for (const auto& [where, said] : std::vector<std::pair<QString, QString>>{
             {QString::number(busy.port),
              "fieldmeter: --http: cannot listen on 127.0.0.1:" + QString::number(busy.port) +
                  ": Address already in use\n"},
             {"192.0.2.1:9100",
              "fieldmeter: --http: cannot listen on 192.0.2.1:9100: not an "
              "address of this machine\n"},
             {"no-such-host.invalid:0",
              "fieldmeter: --http: cannot listen on no-such-host.invalid:0: no such host name "
              "("}}) {
        stderr_.clear();
        start({"--input", "demo", "--duration", "5", "--http", where});
        EXPECT_EQ(finish(), 1) << where.toStdString();
        EXPECT_TRUE(stderr_.contains(said)) << stderr_.toStdString();
    }
}

TEST_F(LevelReports, ANameListensOnAnyFreePortAndTheLogServedIsTheOneWrittenNeverALink) {
    const fs::path log = dir_ / "levels.csv";
    start({"--input", "demo", "--log", QString::fromStdString(log.string()), "--http",
           "localhost:0"});
    // A name is no loopback address to the program: the page asks for a token.
    const QString port = waitForStderr(R"(the live page: http://127\.0\.0\.1:(\d+)/\?token=)");
    ASSERT_FALSE(port.isEmpty()) << stderr_.toStdString();
    EXPECT_NE(port, "0");
    const QString logCsv =
        "/log.csv?token=" + QRegularExpression(R"(\?token=(\w+))").match(stderr_).captured(1);
    EXPECT_TRUE(get(port, logCsv).startsWith("time_utc,"));
    // A link put in the log's place, to a file the program never wrote.
    std::ofstream(dir_ / "secret.txt") << "secret\n";
    fs::rename(log, dir_ / "levels-moved.csv");
    fs::create_symlink(dir_ / "secret.txt", log);
    EXPECT_EQ(get(port, logCsv), "not found\n");
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
            if (m["interval"].toString() == "period") {
                continue;  // only once a period of the clock closed during the run
            }
            const QString key = QString(family) + "{" + m["weighting"].toString() + "," +
                                m["time_weighting"].toString() + "," + m["interval"].toString() +
                                "}";
            levels[key] = valueOf(s);
        }
    }
    EXPECT_EQ(levels.size(), 14u);
    for (const auto& [key, value] : levels) {
        EXPECT_TRUE(std::isfinite(value)) << key.toStdString();
    }
    EXPECT_GT((levels["fieldmeter_sound_level_db{A,fast,}"]), -120.0);
    // The bands, the percentiles and the input's state, as Prometheus itself read them.
    EXPECT_EQ(prometheus.query("fieldmeter_band_leq_db{interval=\"1s\"}").size(), 30);
    EXPECT_EQ(prometheus.query("fieldmeter_band_level_db").size(), 30);
    EXPECT_EQ(prometheus.query("fieldmeter_sound_exceeded_db{interval=\"run\"}").size(), 4);
    const QJsonArray input = prometheus.query("fieldmeter_input_up{input=\"demo\"}");
    ASSERT_EQ(input.size(), 1);
    EXPECT_EQ(valueOf(input[0]), 1.0);
    EXPECT_GT((levels["fieldmeter_sound_leq_db{Z,,1s}"]), -120.0);
}

TEST_F(LevelReports, AWallClockSetBackAnHourIsSaidOnceMarkedInItsSecondAndClosesThePeriod) {
    // libfaketime reads the clock's offset from a file at every call; the monotonic clock stays.
    const char* faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (!fs::exists(faketime)) {
        GTEST_SKIP() << "faketime is not installed";
    }
    const fs::path offset = dir_ / "faketime";
    std::ofstream(offset) << "+0\n";
    writeFloatWav(dir_ / "tone.wav", std::vector<float>(60 * 44100, 0.1f));
    extraEnv_.insert("LD_PRELOAD", faketime);
    extraEnv_.insert("FAKETIME_TIMESTAMP_FILE", QString::fromStdString(offset.string()));
    extraEnv_.insert("FAKETIME_NO_CACHE", "1");
    extraEnv_.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    extraEnv_.insert("TZ", "UTC");
    extraEnv_.insert("ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0");
    const fs::path log = dir_ / "levels.csv";
    const fs::path summary = dir_ / "summary.csv";
    start({"--input", QString::fromStdString((dir_ / "tone.wav").string()), "--log",
           QString::fromStdString(log.string()), "--summary",
           QString::fromStdString(summary.string()), "--period", "1m", "--screen-every", "0"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return logRows(log).size() >= 4; }, 30000));
    std::ofstream(dir_ / "faketime.new") << "-3600\n";
    fs::rename(dir_ / "faketime.new", offset);  // never read half written
    EXPECT_NEAR(waitForStderr("wall clock stepped by ([^ ]+) s").toDouble(), -3600.0, 0.01)
        << stderr_.toStdString();
    const std::size_t stepped = logRows(log).size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return logRows(log).size() >= stepped + 3; }, 30000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_EQ(stderr_.count("wall clock stepped"), 1) << stderr_.toStdString();

    // The second it happened in says so, at the new time; every other follows by a second.
    const auto rows = logRows(log);
    int steps = 0;
    QString lastBefore;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const QString step = rows[i].at("clock_step_s");
        steps += step.isEmpty() ? 0 : 1;
        lastBefore = step.isEmpty() ? lastBefore : rows[i - 1].at("time_utc");
        EXPECT_NEAR(step.toDouble(), step.isEmpty() ? 0.0 : -3600.0, 0.05);
        EXPECT_NEAR(msOf(rows[i].at("time_utc")) - msOf(rows[i - 1].at("time_utc")),
                    step.isEmpty() ? 1000.0 : -3599000.0, 50.0);
    }
    EXPECT_EQ(steps, 1);

    // The period under way was closed, not complete, at its last second before the step; no
    // row ends before it starts or holds more seconds than it lasts.
    bool closedAtStep = false;
    for (const auto& row : logRows(summary)) {
        const auto start = QDateTime::fromString(row.at("start_utc"), Qt::ISODateWithMs);
        const auto end = QDateTime::fromString(row.at("end_utc"), Qt::ISODateWithMs);
        EXPECT_LE(start, end) << row.at("start_utc").toStdString();
        EXPECT_LE(row.at("measured_s").toDouble() + row.at("no_input_s").toDouble(),
                  start.secsTo(end) + 1.0);
        closedAtStep |= row.at("end_utc") == lastBefore && row.at("complete") == "0";
    }
    EXPECT_TRUE(closedAtStep) << readText(summary);
}

TEST_F(LevelReports, ALimitIsRaisedAndClearedOnceWithItsValuesTimesAndClip) {
    // 1 kHz: 3 s at -40 dBFS, 6 s at -10 dBFS, 12 s at -40 dBFS.
    std::vector<float> samples;
    for (int i = 0; i < 21 * 44100; ++i) {
        const double amplitude = i >= 3 * 44100 && i < 9 * 44100 ? 0.316228 : 0.01;
        samples.push_back(
            static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * i / 44100.0)));
    }
    writeFloatWav(dir_ / "loud.wav", samples);
    const fs::path log = dir_ / "levels.csv";
    const fs::path summary = dir_ / "summary.csv";
    extraEnv_.insert("TZ", "Europe/Berlin");
    start({"--input",        QString::fromStdString((dir_ / "loud.wav").string()),
           "--log",          QString::fromStdString(log.string()),
           "--summary",      QString::fromStdString(summary.string()),
           "--period",       "1m",
           "--http",         "0",
           "--name",         "site",
           "--limit",        "loud=LAF>-20/2s",
           "--limit",        "roll=LAeq_4s>-15",
           "--limit",        "peak=LCpeak>3",
           "--limit-clear",  "5",
           "--event-above",  "-20",
           "--post-roll",    "1",
           "--screen-every", "0",
           "--documents",    docs(),
           "--duration",     "60"});
    const QString port = waitForStderr(R"(the live page: http://127\.0\.0\.1:(\d+)/)");
    ASSERT_FALSE(port.isEmpty()) << stderr_.toStdString();
    waitForStderr("(loud.wav ended)", 60000);
    ASSERT_TRUE(stderr_.contains("the limits compare in dBFS")) << stderr_.toStdString();
    ASSERT_TRUE(stderr_.contains("the limit peak lies above 0 dBFS")) << stderr_.toStdString();

    const QJsonArray alerts =
        QJsonDocument::fromJson(get(port, "/api/alerts").toUtf8())["alerts"].toArray();
    std::map<QString, QJsonObject> byKind;
    for (const QJsonValue& a : alerts) {
        byKind[a["limit"].toString() + " " + a["alert"].toString()] = a.toObject();
    }
    ASSERT_EQ(byKind.size(), 4u) << QJsonDocument(alerts).toJson().toStdString();
    const QJsonObject raised = byKind["loud raised"];
    const QJsonObject cleared = byKind["loud cleared"];
    // Newest first: the rolling level cleared last, the first limit was raised first.
    EXPECT_EQ(alerts[0].toObject(), byKind["roll cleared"]);
    EXPECT_EQ(alerts[3].toObject(), raised);
    EXPECT_EQ(raised["meter"], "site");
    EXPECT_EQ(raised["unit"], "dBFS");
    EXPECT_EQ(raised["spec"], "loud=LAF>-20/2s");
    EXPECT_NEAR(raised["value"].toDouble(), -10.0, 0.2);
    // Held from the first loud second to the one the level decayed in: 7 seconds.
    const QDateTime start = QDateTime::fromString(raised["startUtc"].toString(), Qt::ISODateWithMs);
    const QDateTime end = QDateTime::fromString(cleared["endUtc"].toString(), Qt::ISODateWithMs);
    EXPECT_NEAR(start.msecsTo(end), 7000, 300);
    EXPECT_EQ(cleared["startUtc"], raised["startUtc"]);
    EXPECT_NEAR(cleared["durationSeconds"].toDouble(), 7.0, 0.5);
    EXPECT_NEAR(cleared["maximum"].toDouble(), -10.0, 0.2);
    EXPECT_NEAR(cleared["LAeq"].toDouble(), 10.0 * std::log10((6 * 0.1 + 1e-4) / 7.0), 0.1);
    EXPECT_EQ(QDateTime::fromString(raised["startLocal"].toString(), Qt::ISODateWithMs), start);
    EXPECT_TRUE(raised["startLocal"].toString().endsWith("+01:00"));
    EXPECT_TRUE(cleared["clip"].toString().endsWith(".wav"))
        << cleared["clip"].toString().toStdString();
    EXPECT_TRUE(fs::exists(docsPath() / "events" / cleared["clip"].toString().toStdString()));
    // The rolling level: two loud seconds of its four.
    const QJsonObject roll = byKind["roll raised"];
    EXPECT_NEAR(roll["value"].toDouble(), 10.0 * std::log10((2 * 0.1 + 2e-4) / 4.0), 0.1);
    EXPECT_EQ(roll["coverage"].toDouble(), 1.0);

    const QString metrics = get(port, "/metrics");
    EXPECT_TRUE(metrics.contains(R"(fieldmeter_limit_episodes_total{meter="site",limit="loud"} 1)"))
        << metrics.toStdString();
    EXPECT_TRUE(metrics.contains(R"(fieldmeter_limit_exceeded{meter="site",limit="loud"} 0)"));
    const QJsonArray now =
        QJsonDocument::fromJson(get(port, "/api/now").toUtf8())["limits"].toArray();
    ASSERT_EQ(now.size(), 3);
    EXPECT_EQ(now[0]["name"], "loud");
    EXPECT_EQ(now[0]["episodes"], 1);
    EXPECT_EQ(now[0]["secondsOver"], 7);
    ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();

    int held = 0;
    for (const auto& row : logRows(log)) {
        held += row.at("limits").split(';').contains("loud") ? 1 : 0;
    }
    EXPECT_EQ(held, 7);
    int over = 0, episodes = 0;
    for (const auto& row : logRows(summary)) {
        if (row.at("row") == "limit" && row.at("limit") == "loud") {
            over += row.at("limit_seconds_over").toInt();
            episodes += row.at("limit_episodes").toInt();
        }
    }
    EXPECT_EQ(std::pair(over, episodes), std::pair(7, 1)) << readText(summary);
}

}  // namespace
}  // namespace fm::test
