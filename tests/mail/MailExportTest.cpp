// The mail button end to end: composer, a fake sendmail that keeps what it is given, the
// message read back by GMime and by python3's email package.
// GLib's headers before Qt's: Qt's "signals" keyword would break them.
#include <gmime/gmime.h>

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include "mail/MailExport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "mail/MailTestSupport.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/mail/MailComposeDialog.h"
#include "platform/mail/Sendmail.h"

namespace fm::test {
namespace {

using fm::platform::MailComposeDialog;
namespace fs = std::filesystem;

const char* const kSent =
    "Mail send: the email message is queued in the outbox. It is ready to send.";
const std::string kFailed =  // then ": " and the reason
    "Mail failed: the email message was not saved or queued, possibly due to an error: ";
const char* const kSaved = "Mail saved: you saved the email message in the drafts folder.";
const char* const kCancelled =
    "Mail cancelled: you cancelled the operation and no email message was queued.";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string run(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
            out.append(buf, n);
        }
        pclose(p);
    }
    return out;
}

// What GMime finds in a message.
struct ParsedMail {
    std::string to, subject, body, attachmentName, attachmentType, mimeVersion, messageId;
    bool hasDate = false;
    std::vector<unsigned char> attachment;
};

ParsedMail parseWithGMime(const std::string& text) {
    g_mime_init();
    ParsedMail mail;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (message == nullptr) {
        return mail;
    }
    char* to = internet_address_list_to_string(g_mime_message_get_to(message), nullptr, FALSE);
    mail.to = to != nullptr ? to : "";
    g_free(to);
    mail.subject = g_mime_message_get_subject(message);
    mail.hasDate = g_mime_message_get_date(message) != nullptr;
    if (const char* id = g_mime_message_get_message_id(message)) {
        mail.messageId = id;
    }
    if (const char* v = g_mime_object_get_header(GMIME_OBJECT(message), "MIME-Version")) {
        mail.mimeVersion = v;
    }
    GMimeObject* root = g_mime_message_get_mime_part(message);
    if (GMIME_IS_MULTIPART(root) && g_mime_multipart_get_count(GMIME_MULTIPART(root)) == 2) {
        GMimeObject* text = g_mime_multipart_get_part(GMIME_MULTIPART(root), 0);
        if (GMIME_IS_TEXT_PART(text)) {
            char* body = g_mime_text_part_get_text(GMIME_TEXT_PART(text));
            mail.body = body;
            g_free(body);
        }
        GMimeObject* part = g_mime_multipart_get_part(GMIME_MULTIPART(root), 1);
        if (GMIME_IS_PART(part)) {
            mail.attachmentName = g_mime_part_get_filename(GMIME_PART(part));
            char* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(part));
            mail.attachmentType = type;
            g_free(type);
            GByteArray* bytes = g_byte_array_new();
            GMimeStream* out = g_mime_stream_mem_new_with_byte_array(bytes);
            g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(out), FALSE);
            g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(part)), out);
            g_object_unref(out);
            mail.attachment.assign(bytes->data, bytes->data + bytes->len);
            g_byte_array_free(bytes, TRUE);
        }
    }
    g_object_unref(message);
    return mail;
}

class MailExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/fm-mail-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        fm::platform::setDocumentsFolder((folder_ / "Documents").string());
        fs::create_directories(folder_ / "Documents");
        const fs::path fake = folder_ / "fake-sendmail";
        // FAKE_SENDMAIL_MODE: none reads nothing, part reads 1000 bytes (both exit 0), wait
        // waits for a file "go" to appear, hang starts a child and sleeps with it.
        std::ofstream(fake)
            << "#!/bin/sh\n"
               "printf '%s\\n' \"$@\" > \"$FAKE_SENDMAIL_OUT.args\"\n"
               "case \"$FAKE_SENDMAIL_MODE\" in\n"
               "  none) exit 0 ;;\n"
               "  part) dd bs=1000 count=1 of=/dev/null 2>/dev/null; exit 0 ;;\n"
               "  wait) while [ ! -e \"$FAKE_SENDMAIL_OUT.go\" ]; do sleep 0.02; done ;;\n"
               "  hang) sleep 300 & echo $! > \"$FAKE_SENDMAIL_OUT.child\"; sleep 300 ;;\n"
               "esac\n"
               "cat > \"$FAKE_SENDMAIL_OUT\"\n"
               "if [ -n \"$FAKE_SENDMAIL_ERROR\" ]; then\n"
               "  echo \"$FAKE_SENDMAIL_ERROR\" >&2; exit 1\n"
               "fi\n";
        fs::permissions(fake, fs::perms::owner_all);
        setenv("SENDMAIL", fake.c_str(), 1);
        setenv("FAKE_SENDMAIL_OUT", sentPath().c_str(), 1);
        unsetenv("FAKE_SENDMAIL_ERROR");
        unsetenv("FAKE_SENDMAIL_MODE");
        const char* path = std::getenv("PATH");
        path_ = path != nullptr ? path : "/usr/bin:/bin";

        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/Los_Angeles"));

        fm::mail::MailExportHooks hooks;
        hooks.parentWidget = [this] { return &screen_; };
        hooks.setTimeLabelText = [this](const std::string& text) { timeLabel_ = text; };
        hooks.showAlert = [this](const std::string& title, const std::string& message,
                                 const std::string& button) {
            alerts_.push_back(title + " | " + message + " | " + button);
        };
        hooks.recordingPath = [this] { return recording().string(); };
        // Wednesday 31 December 2025, 15:30 in Los Angeles.
        hooks.now = [] {
            return std::chrono::system_clock::time_point(
                std::chrono::sys_days(std::chrono::year(2025) / 12 / 31) + std::chrono::hours(23) +
                std::chrono::minutes(30));
        };
        hooks.log = [this](const std::string& line) { logged_.push_back(line); };
        mailExport_ = std::make_unique<fm::mail::MailExport>(hooks);
    }
    void TearDown() override {
        setenv("PATH", path_.c_str(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        fs::remove_all(folder_);
    }

    fs::path recording() const { return folder_ / "Documents" / "output2.caf"; }
    std::string sentPath() const { return (folder_ / "sent.eml").string(); }

    // Presses the mail button; expects the composer to open.
    MailComposeDialog* openComposer() {
        MailComposeDialog* composer = mailExport_->mailFile();
        EXPECT_NE(composer, nullptr);
        EXPECT_TRUE(alerts_.empty()) << alerts_.front();
        return composer;
    }

    // Sending and saving end in the event loop: waits for the composer's one outcome.
    bool waitForOutcome(int timeoutMs = 20000) {
        return QTest::qWaitFor([this] { return !logged_.empty(); }, timeoutMs);
    }

    static bool isGone(const QPointer<MailComposeDialog>& composer) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return composer.isNull();
    }

    fs::path folder_;
    std::string path_;
    QWidget screen_;
    std::string timeLabel_ = "00:07";
    std::vector<std::string> alerts_;
    std::vector<std::string> logged_;
    std::unique_ptr<fm::mail::MailExport> mailExport_;
};

TEST_F(MailExportTest, SendHandsSendmailThePreparedMailWithAPlayableAttachment) {
    const auto samples = rampSamples(22050);
    writeCaf(recording().string(), samples);
    QPointer<MailComposeDialog> composer = openComposer();
    ASSERT_TRUE(composer);
    EXPECT_TRUE(composer->isVisible());
    EXPECT_EQ(composer->parentWidget(), &screen_);
    EXPECT_EQ(composer->findChild<QLineEdit*>("toField")->text(), "field.recordings@example.com");
    EXPECT_EQ(composer->findChild<QLineEdit*>("subjectField")->text(), "Top Secret EMF fields!");
    EXPECT_EQ(composer->findChild<QPlainTextEdit*>("bodyField")->toPlainText(),
              "Wednesday December 31, 2025");
    EXPECT_TRUE(composer->findChild<QLabel*>("attachmentLabel")
                    ->text()
                    .startsWith("spookySounds.wav (audio/wav, "));

    EXPECT_TRUE(composer->findChild<QLabel*>("sizeWarning")->isHidden());

    QTest::mouseClick(composer->sendButton(), Qt::LeftButton);

    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(logged_, std::vector<std::string>{kSent});
    EXPECT_EQ(timeLabel_, "Email sending");
    EXPECT_TRUE(isGone(composer));
    EXPECT_EQ(readFile(sentPath() + ".args"), "-t\n-oi\n");

    const std::string sent = readFile(sentPath());
    const ParsedMail mail = parseWithGMime(sent);
    EXPECT_EQ(mail.to, "field.recordings@example.com");
    EXPECT_EQ(mail.subject, "Top Secret EMF fields!");
    EXPECT_EQ(mail.body, "Wednesday December 31, 2025");
    EXPECT_EQ(mail.mimeVersion, "1.0");
    EXPECT_TRUE(mail.hasDate);
    EXPECT_FALSE(mail.messageId.empty());
    EXPECT_EQ(mail.attachmentName, "spookySounds.wav");
    EXPECT_EQ(mail.attachmentType, "audio/wav");
    EXPECT_EQ(wavSamples(mail.attachment), samples);

    // An independent parser sees the same message and the same attachment bytes.
    const fs::path extracted = folder_ / "extracted.wav";
    const std::string py =
        run("/usr/bin/python3 - '" + sentPath() + "' '" + extracted.string() +
            "' <<'EOF'\n"
            "import email, sys\n"
            "from email import policy\n"
            "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=policy.default)\n"
            "a = list(m.iter_attachments())\n"
            "open(sys.argv[2], 'wb').write(a[0].get_content())\n"
            "print(m['To'], m['Subject'], m['MIME-Version'], m['Date'] is not None,\n"
            "      m['Message-ID'] is not None, len(a), a[0].get_filename(),\n"
            "      a[0].get_content_type(), a[0]['Content-Transfer-Encoding'], sep='|')\n"
            "print(m.get_body(('plain',)).get_content().strip())\n"
            "EOF");
    EXPECT_EQ(py,
              "field.recordings@example.com|Top Secret EMF fields!|1.0|True|True|1|"
              "spookySounds.wav|audio/wav|base64\nWednesday December 31, 2025\n");
    const std::string bytes = readFile(extracted);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.end()), mail.attachment);
}

TEST_F(MailExportTest, RefusedMailIsLoggedWithTheTransportsReason) {
    writeCaf(recording().string(), rampSamples(100));
    setenv("FAKE_SENDMAIL_ERROR", "relay access denied", 1);
    QPointer<MailComposeDialog> composer = openComposer();
    ASSERT_TRUE(composer);
    ::testing::internal::CaptureStderr();
    composer->sendButton()->click();
    const bool ended = waitForOutcome();
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    EXPECT_EQ(err.find("Mail"), std::string::npos) << err;  // the logged line is the one line
    EXPECT_EQ(logged_, std::vector<std::string>{kFailed + folder_.string() +
                                                "/fake-sendmail exited with status 1: relay "
                                                "access denied"});
    EXPECT_EQ(timeLabel_, "00:07");
    EXPECT_TRUE(isGone(composer));
}

TEST_F(MailExportTest, TheScreenKeepsMovingWhileSendmailWorksAndOnlyAWholeReadIsQueued) {
    writeCaf(recording().string(), rampSamples(44100));
    setenv("FAKE_SENDMAIL_MODE", "wait", 1);
    QPointer<MailComposeDialog> composer = openComposer();
    ASSERT_TRUE(composer);
    int ticks = 0;
    QTimer meter;
    QObject::connect(&meter, &QTimer::timeout, [&ticks] { ++ticks; });
    meter.start(10);
    QTest::mouseClick(composer->sendButton(), Qt::LeftButton);
    EXPECT_TRUE(composer->busy());
    EXPECT_FALSE(composer->isVisible());  // closed at once; the send goes on
    // sendmail has not finished, yet the timers run and Escape does not cut the send short.
    EXPECT_TRUE(QTest::qWaitFor([&ticks] { return ticks >= 30; }, 20000));
    QTest::keyClick(composer, Qt::Key_Escape);
    EXPECT_TRUE(logged_.empty());
    std::ofstream(sentPath() + ".go").put('\n');
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(logged_, std::vector<std::string>{kSent});
    EXPECT_EQ(wavSamples(parseWithGMime(readFile(sentPath())).attachment), rampSamples(44100));

    // A sendmail that exits 0 without reading the whole message has not taken it.
    for (const auto& [mode, taken] :
         {std::pair{"none", "read only 0 of"}, std::pair{"part", "read only 1000 of"}}) {
        setenv("FAKE_SENDMAIL_MODE", mode, 1);
        logged_.clear();
        alerts_.clear();
        timeLabel_ = "00:07";
        composer = openComposer();
        composer->sendButton()->click();
        ASSERT_TRUE(waitForOutcome()) << mode;
        EXPECT_NE(logged_[0].find(std::string("exited with status 0 but ") + taken),
                  std::string::npos);
        EXPECT_EQ(timeLabel_, "00:07");
    }
}

bool processRuns(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST_F(MailExportTest, SendmailPastItsLimitIsEndedWithEveryProcessItStarted) {
    setenv("FAKE_SENDMAIL_MODE", "hang", 1);
    std::string error;
    const int fd = fm::platform::createScratchFile(&error);
    ASSERT_GE(fd, 0) << error;
    ASSERT_EQ(write(fd, "To: a@example.com\n\nhello\n", 26), 26);
    fm::platform::SendmailRun run;
    std::optional<fm::platform::SendmailResult> result;
    run.start(
        fd, [&result](const fm::platform::SendmailResult& r) { result = r; }, 1500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 20000));
    EXPECT_FALSE(result->queued);
    EXPECT_NE(result->error.find("did not finish within 1500 ms and was ended"), std::string::npos)
        << result->error;
    const pid_t child = std::stoi(readFile(sentPath() + ".child"));
    EXPECT_TRUE(QTest::qWaitFor([child] { return !processRuns(child); }, 10000))
        << "the sleeping child " << child << " outlived its sendmail";
}

TEST_F(MailExportTest, SaveDraftCancelAndCloseEachReportOnce) {
    writeCaf(recording().string(), rampSamples(500));

    QPointer<MailComposeDialog> composer = openComposer();
    composer->saveDraftButton()->click();
    composer->saveDraftButton()->click();  // already saving: no second outcome
    ASSERT_TRUE(waitForOutcome());
    EXPECT_EQ(logged_, std::vector<std::string>{kSaved});
    EXPECT_TRUE(isGone(composer));
    std::vector<fs::path> drafts;
    for (const auto& e : fs::directory_iterator(folder_ / "Documents" / "Drafts")) {
        drafts.push_back(e.path());
    }
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_EQ(drafts[0].extension(), ".eml");
    const ParsedMail draft = parseWithGMime(readFile(drafts[0]));
    EXPECT_EQ(draft.subject, "Top Secret EMF fields!");
    EXPECT_EQ(wavSamples(draft.attachment), rampSamples(500));
    EXPECT_FALSE(fs::exists(sentPath()));

    logged_.clear();
    composer = openComposer();
    QTest::mouseClick(composer->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(logged_, std::vector<std::string>{kCancelled});
    EXPECT_TRUE(isGone(composer));

    logged_.clear();
    composer = openComposer();
    QTest::keyClick(composer, Qt::Key_Escape);
    EXPECT_EQ(logged_, std::vector<std::string>{kCancelled});
    EXPECT_TRUE(isGone(composer));
    EXPECT_EQ(timeLabel_, "00:07");
    EXPECT_FALSE(fs::exists(sentPath()));
}

TEST_F(MailExportTest, AMessageOverTwentyMegabytesIsFlaggedInTheComposer) {
    // 8,000,000 samples: a 16 MB WAV, about 21.6 MB once in base64.
    SNDFILE* writer = openCafForWriting(recording().string());
    const auto second = rampSamples(40000);
    for (int i = 0; i < 200; ++i) {
        sf_write_short(writer, second.data(), static_cast<sf_count_t>(second.size()));
    }
    sf_close(writer);
    QPointer<MailComposeDialog> composer = openComposer();
    ASSERT_TRUE(composer);
    const auto* warning = composer->findChild<QLabel*>("sizeWarning");
    EXPECT_FALSE(warning->isHidden());
    EXPECT_EQ(warning->text(),
              "This message will be about 22 MB. Many mail servers refuse messages over 20 MB.");
    EXPECT_TRUE(composer->findChild<QLabel*>("attachmentLabel")
                    ->text()
                    .endsWith("(audio/wav, 16000044 bytes)"));
    composer->cancelButton()->click();
    EXPECT_TRUE(isGone(composer));
}

TEST_F(MailExportTest, UnknownOutcomeIsNotSentAndStillDismissed) {
    writeCaf(recording().string(), rampSamples(10));
    QPointer<MailComposeDialog> composer = openComposer();
    mailExport_->mailComposeControllerDidFinish(composer, 7, {});
    EXPECT_EQ(logged_, std::vector<std::string>{"Mail not sent."});
    EXPECT_TRUE(isGone(composer));
}

TEST_F(MailExportTest, WithoutSendmailTheDesktopsMailProgramTakesItElseTheAlertSaysWhere) {
    const auto samples = rampSamples(3000);
    writeCaf(recording().string(), samples);
    setenv("SENDMAIL", (folder_ / "no-such-sendmail").c_str(), 1);
    const fs::path bin = folder_ / "bin";
    fs::create_directories(bin);
    setenv("PATH", bin.c_str(), 1);  // no xdg-email either

    EXPECT_EQ(mailExport_->mailFile(), nullptr);
    EXPECT_EQ(alerts_, std::vector<std::string>{
                           "Failure | Your device doesn't support the composer sheet\n\nThe "
                           "recording is " +
                           recording().string() + " and can be attached by hand. | OK"});
    EXPECT_TRUE(screen_.findChildren<MailComposeDialog*>().isEmpty());
    EXPECT_TRUE(logged_.empty());

    const fs::path handed = folder_ / "handed.wav";
    std::ofstream(bin / "xdg-email")
        << "#!/bin/sh\n"
           "PATH=/usr/bin:/bin\n"
           "printf '%s\\n' \"$@\" > '"
        << handed.string() << ".args'\n"
        << "while [ $# -gt 0 ]; do\n"
           "  if [ \"$1\" = --attach ]; then cp \"$2\" '"
        << handed.string() << "'; fi\n"
        << "  shift\n"
           "done\n"
           "if [ -n \"$FAKE_XDG_ERROR\" ]; then echo \"$FAKE_XDG_ERROR\" >&2; exit 3; fi\n";
    fs::permissions(bin / "xdg-email", fs::perms::owner_all);
    alerts_.clear();
    EXPECT_EQ(mailExport_->mailFile(), nullptr);
    ASSERT_TRUE(waitForOutcome());
    const std::string attached = (folder_ / "Documents" / "Outbox" / "spookySounds.wav").string();
    EXPECT_EQ(logged_, std::vector<std::string>{"Mail handed to the desktop's mail program with " +
                                                attached + " attached."});
    EXPECT_TRUE(alerts_.empty());
    EXPECT_EQ(readFile(handed.string() + ".args"),
              "--utf8\n--subject\nTop Secret EMF fields!\n--body\nWednesday December 31, "
              "2025\n--attach\n" +
                  attached + "\nfield.recordings@example.com\n");
    const std::string wav = readFile(handed);
    EXPECT_EQ(wavSamples(std::vector<unsigned char>(wav.begin(), wav.end())), samples);

    logged_.clear();
    setenv("FAKE_XDG_ERROR", "no mail program configured", 1);
    EXPECT_EQ(mailExport_->mailFile(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !alerts_.empty(); }, 20000));
    unsetenv("FAKE_XDG_ERROR");
    EXPECT_EQ(alerts_, std::vector<std::string>{
                           "Failure | Your device doesn't support the composer sheet\n\nThe "
                           "recording is " +
                           attached + " and can be attached by hand. | OK"});
    EXPECT_TRUE(logged_.empty());
}

TEST_F(MailExportTest, PressDuringARecordingAttachesWhatIsWrittenSoFar) {
    SNDFILE* writer = openCafForWriting(recording().string());
    const auto samples = rampSamples(4410);
    sf_write_short(writer, samples.data(), 4410);
    QPointer<MailComposeDialog> composer = openComposer();
    ASSERT_TRUE(composer);
    sf_write_short(writer, samples.data(), 4410);  // the recording goes on
    composer->sendButton()->click();
    ASSERT_TRUE(waitForOutcome());
    sf_close(writer);
    EXPECT_EQ(wavSamples(parseWithGMime(readFile(sentPath())).attachment), samples);
}

TEST_F(MailExportTest, NothingRecordedYetShowsAnAlertInsteadOfTheComposer) {
    EXPECT_EQ(mailExport_->mailFile(), nullptr);
    sf_close(openCafForWriting(recording().string()));  // an engine start with no capture
    EXPECT_EQ(mailExport_->mailFile(), nullptr);
    ASSERT_EQ(alerts_.size(), 2u);
    EXPECT_EQ(alerts_[0], "Nothing to mail | There is no recording to mail yet (" +
                              recording().string() + ": No such file or directory). | OK");
    EXPECT_EQ(alerts_[1], "Nothing to mail | There is no recording to mail yet (" +
                              recording().string() + " holds no samples yet). | OK");
    EXPECT_TRUE(screen_.findChildren<MailComposeDialog*>().isEmpty());
}

}  // namespace
}  // namespace fm::test
