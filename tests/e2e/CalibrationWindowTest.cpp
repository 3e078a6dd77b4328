// The question K asks about a measured calibration, in the real program's window on a real X
// display, at both zooms and on the tall screen: whole, inside the window, answered with the
// keys and the mouse, and modal.
#include <QStandardPaths>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

class CalibrationWindow : public ProgramRun {
  protected:
    void SetUp() override {
        ProgramRun::SetUp();
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("import").isEmpty()) {
            GTEST_SKIP() << "needs Xvfb, xdotool and import";
        }
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x1300x24", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb_.waitForStarted(10000));
        QByteArray number;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                number += xvfb_.readAllStandardOutput();
                return number.contains('\n');
            },
            20000));
        display_ = ":" + QString::fromUtf8(number).trimmed();
        // A steady 1 kHz tone at -20 dBFS: the reference K measures.
        tone_ = dir_ / "tone.wav";
        ASSERT_EQ(std::system(("sox -V1 -n -r 44100 -b 16 " + tone_.string() +
                               " synth 120 sine 1000 vol 0.1")
                                  .c_str()),
                  0);
    }
    void TearDown() override {
        ProgramRun::TearDown();
        xvfb_.terminate();
        xvfb_.waitForFinished(10000);
    }

    // The environment of a program on the test's display.
    QProcessEnvironment onDisplay() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("DISPLAY", display_);
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
        return env;
    }
    void launch(const QStringList& shape) {
        process_.setProcessEnvironment(onDisplay());
        const QString log = QString::fromStdString((dir_ / "levels.csv").string());
        process_.start(FM_PROGRAM, QStringList{"--input", QString::fromStdString(tone_.string()),
                                               "--documents", docs(), "--log", log} +
                                       shape);
        ASSERT_TRUE(process_.waitForStarted(10000));
        window_ = xdotool({"search", "--sync", "--onlyvisible", "--name", "fieldmeter"})
                      .section('\n', 0, 0);
        ASSERT_FALSE(window_.isEmpty());
        // Made the active window, as a window manager makes the window a user clicks.
        xdotool({"windowfocus", "--sync", window_});
        // The tone has been measured for two seconds (the header and two rows): K finds it
        // steady.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                QFile f(log);
                return f.open(QIODevice::ReadOnly) && f.readAll().count('\n') >= 3;
            },
            30000));
    }
    QString run(const char* tool, const QStringList& args) {
        QProcess x;
        x.setProcessEnvironment(onDisplay());
        x.start(tool, args);
        x.waitForFinished(20000);
        return QString::fromUtf8(x.readAllStandardOutput()).trimmed();
    }
    QString xdotool(const QStringList& args) { return run("xdotool", args); }
    void key(const char* name) { xdotool({"key", "--window", window_, name}); }
    // Waits for the program to have said `what` `times` times on standard error.
    bool said(const QString& what, int times = 1) {
        return QTest::qWaitFor(
            [&] {
                stderr_ += QString::fromUtf8(process_.readAllStandardError());
                return stderr_.count(what) >= times;
            },
            30000);
    }
    // The window as shown on the display.
    QImage shot() {
        const QString png = QString::fromStdString((dir_ / "shot.png").string());
        run("import", {"-window", window_, png});
        return QImage(png);
    }
    // Where the pixels of `colour` lie in `image` (within 24 steps): a button's face.
    static QRect area(const QImage& image, QColor colour) {
        QRect found;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                        std::abs(c.blue() - colour.blue()) <=
                    24) {
                    found |= QRect(x, y, 1, 1);
                }
            }
        }
        return found;
    }
    // K, 3 s of the tone, and the question shown: its two buttons whole inside the window, at
    // least as big as the zoom makes a 60 x 28 point button.
    void ask(double scale, int asked) {
        key("k");
        ASSERT_TRUE(said("Keep (Return) or Cancel (Escape)?", asked)) << stderr_.toStdString();
        // Drawn at the next paint after it opened.
        QImage image;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                image = shot();
                keep_ = area(image, QColor(29, 78, 216));
                cancel_ = area(image, QColor(185, 28, 28));
                return keep_.width() >= 60 * scale && cancel_.width() >= 60 * scale;
            },
            20000))
            << "keep " << keep_.width() << " cancel " << cancel_.width();
        for (const QRect& button : {keep_, cancel_}) {
            EXPECT_TRUE(image.rect().adjusted(1, 1, -1, -1).contains(button));
            EXPECT_GE(button.height(), 28 * scale);
        }
        EXPECT_LT(cancel_.right(), keep_.left());
    }
    void click(const QRect& button) {
        xdotool({"mousemove", "--window", window_, QString::number(button.center().x()),
                 QString::number(button.center().y()), "click", "1"});
    }
    bool kept() {
        QFile conf(QString::fromStdString((dir_ / "config/fieldmeter/fieldmeter.conf").string()));
        return conf.open(QIODevice::ReadOnly) && conf.readAll().contains("offsetDb");
    }

    QProcess xvfb_;
    QString display_;
    QString window_;
    fs::path tone_;
    QRect keep_, cancel_;
};

TEST_F(CalibrationWindow, EscapeAndTabCancelAndTheMouseKeepsAtScaleOne) {
    launch({"--scale", "1"});
    ask(1.0, 1);
    // K and the arrows do nothing while it is open; Escape cancels.
    key("k");
    key("Right");
    key("Escape");
    ASSERT_TRUE(said("calibration cancelled; it stays as it was")) << stderr_.toStdString();
    EXPECT_EQ(stderr_.count("calibrating: play the"), 1);
    EXPECT_FALSE(kept());

    ask(1.0, 2);
    key("Tab");
    key("Return");
    ASSERT_TRUE(said("calibration cancelled; it stays as it was", 2)) << stderr_.toStdString();
    EXPECT_FALSE(kept());

    ask(1.0, 3);
    click(keep_);
    ASSERT_TRUE(said("calibrated: 0 dBFS = 114.00 dB")) << stderr_.toStdString();
    EXPECT_TRUE(kept());
}

TEST_F(CalibrationWindow, ReturnKeepsAtScaleTwo) {
    launch({"--scale", "2"});
    ask(2.0, 1);
    key("Return");
    ASSERT_TRUE(said("calibrated: 0 dBFS = 114.00 dB")) << stderr_.toStdString();
    EXPECT_TRUE(kept());
}

TEST_F(CalibrationWindow, TheMouseCancelsOnTheTallScreen) {
    launch({"--scale", "2", "--tall"});
    ask(2.0, 1);
    click(cancel_);
    ASSERT_TRUE(said("calibration cancelled; it stays as it was")) << stderr_.toStdString();
    EXPECT_FALSE(kept());
}

}  // namespace
}  // namespace fm::test
