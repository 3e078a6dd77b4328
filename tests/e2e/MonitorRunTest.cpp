// The monitor as systemd runs it: no display, Qt Core alone, the notify protocol spoken to a
// socket of the test's own (READY once measuring, STATUS with the level, WATCHDOG pings).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QProcess>
#include <QTest>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/ProgramRunner.h"

namespace fm::test {
namespace {

class MonitorRun : public ProgramRun {
  protected:
    void startMonitor(const QStringList& args, const QProcessEnvironment& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(name);
        }
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
        for (const QString& name : extra.keys()) {
            env.insert(name, extra.value(name));
        }
        process_.setProcessEnvironment(env);
        process_.start(FM_MONITOR, args);
        ASSERT_TRUE(process_.waitForStarted(10000));
    }
};

// A datagram socket standing in for systemd's.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ::unlink(path.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    // The next message, or "" when none came within the timeout.
    std::string next(int timeoutMs = 30000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return "";
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
    }

  private:
    std::string path_;
    int fd_ = -1;
};

TEST_F(MonitorRun, ItTellsSystemdItIsReadyHowItMeasuresAndThatItIsAlive) {
    auto librariesOf = [](const char* program) {
        QProcess ldd;
        ldd.start("ldd", {program});
        EXPECT_TRUE(ldd.waitForFinished(30000));
        return QString::fromUtf8(ldd.readAllStandardOutput());
    };
    const QString libraries = librariesOf(FM_MONITOR);
    EXPECT_TRUE(libraries.contains("libQt6Core"));
    EXPECT_FALSE(libraries.contains("libQt6Gui"));
    EXPECT_FALSE(libraries.contains("libQt6Widgets"));
    const QString programLibraries = librariesOf(FM_PROGRAM);
    EXPECT_TRUE(programLibraries.contains("libQt6Widgets"));
    // The MQTT and HTTP clients come with the transports module, loaded only to deliver.
    for (const QString& linked : {libraries, programLibraries}) {
        EXPECT_FALSE(linked.contains("libmosquitto"));
        EXPECT_FALSE(linked.contains("libcurl"));
    }

    writeInput(dir_ / "tone.wav", 4.0);
    NotifySocket socket((dir_ / "notify").string());
    QProcessEnvironment env;
    env.insert("NOTIFY_SOCKET", QString::fromStdString((dir_ / "notify").string()));
    env.insert("WATCHDOG_USEC", "2000000");
    startMonitor({"--input", QString::fromStdString((dir_ / "tone.wav").string()), "--documents",
                  docs(), "--calibration", "100", "--duration", "8"},
                 env);
    const std::string first = socket.next();
    EXPECT_EQ(first.rfind("READY=1\nSTATUS=measuring; input file tone.wav", 0), 0u) << first;
    int pings = 0;
    bool levelSaid = false;
    bool endSaid = false;
    for (std::string m = socket.next(); !m.empty(); m = socket.next()) {
        pings += m == "WATCHDOG=1" ? 1 : 0;
        // The rising sine's level, calibrated; then the file ends and the status says so.
        levelSaid = levelSaid || (m.find("STATUS=LAeq,1s ") == 0 &&
                                  m.find(" dB; input file") != std::string::npos);
        endSaid = endSaid || m == "STATUS=input ended";
        if (m == "STOPPING=1") {
            break;
        }
    }
    EXPECT_TRUE(levelSaid);
    EXPECT_TRUE(endSaid);
    // Pinged every half second through the file and after its end.
    EXPECT_GE(pings, 10);
    EXPECT_EQ(finish(), 0) << stderr_.toStdString();
}

TEST_F(MonitorRun, TheLowerLayersLinesBearItsName) {
    // A 48 kHz file is resampled, which the input's own layer says once, for the journal.
    const fs::path input = dir_ / "tone48k.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(input.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::vector<std::int16_t> silence(48000, 0);
    sf_write_short(f, silence.data(), static_cast<sf_count_t>(silence.size()));
    sf_close(f);
    startMonitor({"--input", QString::fromStdString(input.string()), "--documents", docs(),
                  "--duration", "2"});
    EXPECT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_TRUE(("\n" + stderr_)
                    .contains("\nfieldmeter-monitor: " + QString::fromStdString(input.string()) +
                              ": resampling 48000 Hz to 44100 Hz\n"))
        << stderr_.toStdString();
}

TEST_F(MonitorRun, SigHupOpensTheLogAgainWhereLogrotateLeftItAndTheRunGoesOn) {
    const fs::path log = dir_ / "log.csv";
    startMonitor(
        {"--input", "demo", "--documents", docs(), "--log", QString::fromStdString(log.string())});
    auto rows = [](const fs::path& path) {
        std::ifstream in(path);
        return static_cast<int>(
            std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(log) >= 3; }, 30000));
    fs::rename(log, dir_ / "log.csv.1");
    ::kill(static_cast<pid_t>(process_.processId()), SIGHUP);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(log) >= 3; }, 30000));
    EXPECT_EQ(process_.state(), QProcess::Running);
    std::ifstream in(log);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("time_utc,", 0), 0u);
    process_.terminate();
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(stderr_.contains("SIGHUP: opening the outputs again")) << stderr_.toStdString();
}

TEST_F(MonitorRun, WhatBelongsToTheScreenIsRefusedBeforeAnythingStarts) {
    startMonitor({"--documents", docs(), "--tall"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(stderr_.contains("--tall: belongs to the screen")) << stderr_.toStdString();
    EXPECT_FALSE(fs::exists(docsPath() / "events"));
}

}  // namespace
}  // namespace fm::test
