#include "mail/MailExport.h"

#include <cstdio>
#include <vector>

#include "mail/MailDate.h"
#include "mail/RecordingAsWav.h"
#include "platform/mail/MailComposeDialog.h"
#include "platform/mail/Sendmail.h"

namespace fm::mail {

MailExport::MailExport(MailExportHooks hooks) : hooks_(std::move(hooks)) {
    if (!hooks_.showAlert) {
        hooks_.showAlert = [this](const std::string& title, const std::string& message,
                                  const std::string&) { log(title + ": " + message); };
    }
    if (!hooks_.now) {
        hooks_.now = [] { return std::chrono::system_clock::now(); };
    }
}

void MailExport::log(const std::string& line) const {
    if (hooks_.log) {
        hooks_.log(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

platform::MailComposeDialog* MailExport::mailFile(QObject* /*sender*/) {
    if (!platform::canSendMail()) {
        hooks_.showAlert("Failure", "Your device doesn't support the composer sheet", "OK");
        return nullptr;
    }
    // The recording as a real WAV file: players refuse CAF bytes under a .wav name.
    const std::string path = hooks_.recordingPath ? hooks_.recordingPath() : std::string();
    std::vector<unsigned char> wav;
    std::string why;
    if (path.empty()) {
        why = "no recording has been started";
    }
    if (!why.empty() || !recordingAsWav(path, &wav, &why)) {
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
    composer->addAttachmentData(std::move(wav), kMailAttachmentType, kMailAttachmentName);
    composer->setMessageBody(formatMailDate(hooks_.now()));
    composer->present();
    return composer;
}

void MailExport::mailComposeControllerDidFinish(platform::MailComposeDialog* controller, int result,
                                                const std::string& /*error*/) {
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
            log("Mail failed: the email message was not saved or queued, possibly due to an "
                "error.");
            break;
        default:
            log("Mail not sent.");
            break;
    }
    if (controller != nullptr) {
        controller->dismiss();
    }
}

}  // namespace fm::mail
