// A limit's alerts from the monitor to a webhook receiver of the test's own and to a mailbox
// through a sendmail of the test's own: raised and cleared, once each, with their values and
// the episode's clip.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <cmath>
#include <fstream>

#include "deliver/Servers.h"
#include "e2e/ProgramRunner.h"

namespace fm::test {
namespace {

using fm::deliver::test::Receiver;
using fm::deliver::test::waitFor;

class MonitorAlerts : public ProgramRun {};

TEST_F(MonitorAlerts, ALimitIsRaisedAndClearedOnceByWebhookAndByMail) {
    // 1 kHz: 3 s at -40 dBFS, 6 s at -10 dBFS, then -40 dBFS.
    std::vector<float> samples;
    for (int i = 0; i < 21 * 44100; ++i) {
        const double amplitude = i >= 3 * 44100 && i < 9 * 44100 ? 0.316228 : 0.01;
        samples.push_back(
            static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * i / 44100.0)));
    }
    writeFloatWav(dir_ / "loud.wav", samples);
    const fs::path mailbox = dir_ / "mailbox";
    fs::create_directories(mailbox);
    const fs::path sendmail = dir_ / "sendmail";
    std::ofstream(sendmail) << "#!/bin/sh\ncat > \"" << mailbox.string()
                            << "/$(date +%s%N).eml\"\n";
    fs::permissions(sendmail, fs::perms::owner_all);
    Receiver receiver(0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
    env.insert("SENDMAIL", QString::fromStdString(sendmail.string()));
    process_.setProcessEnvironment(env);
    process_.start(FM_MONITOR,
                   {"--input", QString::fromStdString((dir_ / "loud.wav").string()), "--documents",
                    docs(), "--name", "site", "--limit", "loud=LAF>-20/2s", "--limit-clear", "5",
                    "--event-above", "-20", "--post-roll", "1", "--alert-webhook",
                    "http://127.0.0.1:" + QString::number(receiver.port) + "/hook", "--alert-mail",
                    "noise@example.org"});
    ASSERT_TRUE(process_.waitForStarted(10000));

    ASSERT_TRUE(waitFor([&] { return receiver.bodies().size() >= 2; }))
        << process_.readAllStandardError().toStdString();
    auto mails = [&] {
        return QDir(QString::fromStdString(mailbox.string())).entryList(QDir::Files);
    };
    ASSERT_TRUE(waitFor([&] { return mails().size() >= 2; }));
    process_.terminate();
    EXPECT_EQ(finish(), 0) << stderr_.toStdString();

    const auto bodies = receiver.bodies();
    ASSERT_EQ(bodies.size(), 2u);
    const QJsonObject raised =
        QJsonDocument::fromJson(QByteArray::fromStdString(bodies[0])).object();
    const QJsonObject cleared =
        QJsonDocument::fromJson(QByteArray::fromStdString(bodies[1])).object();
    EXPECT_EQ(raised["alert"], "raised");
    EXPECT_EQ(raised["limit"], "loud");
    EXPECT_EQ(raised["meter"], "site");
    EXPECT_NEAR(raised["value"].toDouble(), -10.0, 0.2);
    EXPECT_EQ(cleared["alert"], "cleared");
    EXPECT_EQ(cleared["startUtc"], raised["startUtc"]);
    EXPECT_NEAR(cleared["durationSeconds"].toDouble(), 7.0, 0.5);
    EXPECT_TRUE(cleared["clip"].toString().endsWith(".wav"));

    // One mail each, in order; the clear carries the clip.
    QStringList texts;
    for (const QString& name : mails()) {
        std::ifstream in(mailbox / name.toStdString());
        texts << QString::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].contains("To: noise@example.org"));
    EXPECT_TRUE(texts[0].contains("Subject: site: loud raised: -10.0 dBFS above -20.0 dBFS"))
        << texts[0].left(600).toStdString();
    EXPECT_TRUE(texts[1].contains("Subject: site: loud cleared"));
    EXPECT_TRUE(texts[1].contains("filename=" + cleared["clip"].toString()) ||
                texts[1].contains("filename=\"" + cleared["clip"].toString()))
        << texts[1].left(1500).toStdString();
}

}  // namespace
}  // namespace fm::test
