#include "mail/MailExport.h"

#include <cstdio>
#include <vector>

#include "mail/MailDate.h"
#include "platform/audiofile/RecordingAsWav.h"
#include "platform/documents/DocumentsFolder.h"
#include "platform/mail/DesktopMail.h"
#include "platform/mail/MailComposeDialog.h"
#include "platform/mail/Sendmail.h"

namespace fm::mail {

using fm::platform::RecordingWav;
namespace {

// The recording, as WAV, read while the message is written.
class RecordingAttachment : public platform::AttachmentSource {
  public:
    explicit RecordingAttachment(std::unique_ptr<RecordingWav> wav) : wav_(std::move(wav)) {}
    std::int64_t read(char* out, std::size_t len) override { return wav_->read(out, len); }
    bool rewind() override { return wav_->rewind(); }
    bool atEnd() const override { return wav_->atEnd(); }
    std::uint64_t size() const override { return wav_->size(); }
    std::string error() const override { return wav_->error(); }

  private:
    std::unique_ptr<RecordingWav> wav_;
};

}  // namespace

MailExport::MailExport(MailExportHooks hooks) : hooks_(std::move(hooks)) {
    if (!hooks_.showAlert) {
        alertsGoToLog_ = true;
        hooks_.showAlert = [this](const std::string& title, const std::string& message,
                                  const std::string&) { log(title + ": " + message); };
    }
    if (!hooks_.now) {
        hooks_.now = [] { return std::chrono::system_clock::now(); };
    }
}

MailExport::~MailExport() = default;

void MailExport::log(const std::string& line) const {
    if (hooks_.log) {
        hooks_.log(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

platform::MailComposeDialog* MailExport::mailFile(QObject* /*sender*/) {
    // One composer on show at a time; one already sending is closed and no longer counts.
    if (composer_ != nullptr && composer_->isVisible()) {
        composer_->raise();
        composer_->activateWindow();
        return composer_;
    }
    if (desktopMail_ && desktopMail_->running()) {
        return nullptr;  // the recording is on its way to the desktop's mail program
    }
    const std::string path = hooks_.recordingPath ? hooks_.recordingPath() : std::string();
    if (!platform::canSendMail()) {
        if (const auto xdgEmail = platform::findXdgEmail()) {
            handToDesktopMail(*xdgEmail, path);
            return nullptr;
        }
        hooks_.showAlert(
            "Failure",
            "Your device doesn't support the composer sheet" +
                (path.empty() ? std::string()
                              : "\n\nThe recording is " + path + " and can be attached by hand."),
            "OK");
        return nullptr;
    }
    // The recording as a real WAV file: players refuse CAF bytes under a .wav name.
    std::string why = path.empty() ? "no recording has been started" : "";
    std::unique_ptr<RecordingWav> wav = why.empty() ? RecordingWav::open(path, &why) : nullptr;
    if (!wav) {
        hooks_.showAlert("Nothing to mail", "There is no recording to mail yet (" + why + ").",
                         "OK");
        return nullptr;
    }

    QWidget* parent = hooks_.parentWidget ? hooks_.parentWidget() : nullptr;
    auto* composer = new platform::MailComposeDialog(parent);
    composer->setMailComposeDelegate(
        [this](platform::MailComposeDialog* controller, int result, const std::string& error) {
            mailComposeControllerDidFinish(controller, result, error);
        });
    composer->setClock(hooks_.now);
    composer->setSubject(kMailSubject);
    composer->setToRecipients({kMailRecipient});
    composer->addAttachment(std::make_shared<RecordingAttachment>(std::move(wav)),
                            kMailAttachmentType, kMailAttachmentName);
    composer->setMessageBody(formatMailDate(hooks_.now()));
    composer->present();
    composer_ = composer;
    return composer;
}

void MailExport::handToDesktopMail(const std::string& program, const std::string& recording) {
    std::string why = recording.empty() ? "no recording has been started" : "";
    std::unique_ptr<RecordingWav> wav = why.empty() ? RecordingWav::open(recording, &why) : nullptr;
    if (!wav) {
        hooks_.showAlert("Nothing to mail", "There is no recording to mail yet (" + why + ").",
                         "OK");
        return;
    }
    platform::MailContent mail;
    mail.to = {kMailRecipient};
    mail.subject = kMailSubject;
    mail.body = formatMailDate(hooks_.now());
    mail.attachmentName = kMailAttachmentName;
    mail.attachmentType = kMailAttachmentType;
    mail.attachment = std::make_shared<RecordingAttachment>(std::move(wav));
    if (!desktopMail_) {
        desktopMail_ = std::make_unique<platform::DesktopMail>();
    }
    const std::string folder = platform::documentsFolder() + "/Outbox";
    desktopMail_->start(
        program, mail, folder, [this, recording](const platform::DesktopMailResult& result) {
            if (result.handedOver) {
                log("Mail handed to the desktop's mail program with " + result.attachmentPath +
                    " attached.");
                return;
            }
            std::fprintf(stderr, "Mail not handed over: %s\n", result.error.c_str());
            const std::string file =
                result.attachmentPath.empty() ? recording : result.attachmentPath;
            hooks_.showAlert("Failure",
                             "Your device doesn't support the composer sheet\n\nThe recording is " +
                                 file + " and can be attached by hand.",
                             "OK");
        });
}

void MailExport::mailComposeControllerDidFinish(platform::MailComposeDialog* controller, int result,
                                                const std::string& error) {
    switch (result) {
        case platform::MailComposeResultCancelled:
            log("Mail cancelled: you cancelled the operation and no email message was queued.");
            break;
        case platform::MailComposeResultSaved:
            log("Mail saved: you saved the email message in the drafts folder.");
            break;
        case platform::MailComposeResultSent:
            log("Mail send: the email message is queued in the outbox. It is ready to send.");
            if (hooks_.setTimeLabelText) {
                hooks_.setTimeLabelText("Email sending");
            }
            break;
        case platform::MailComposeResultFailed:
            // The composer has closed already: the alert is what the user sees of it.
            log("Mail failed: the email message was not saved or queued, possibly due to an "
                "error" +
                (error.empty() ? std::string(".") : ": " + error));
            if (!alertsGoToLog_) {
                hooks_.showAlert("Mail failed",
                                 error.empty() ? "The message was not sent or saved." : error,
                                 "OK");
            }
            break;
        default:
            log("Mail not sent.");
            break;
    }
    if (controller != nullptr) {
        if (controller == composer_) {
            composer_ = nullptr;
        }
        controller->dismiss();
    }
}

}  // namespace fm::mail
