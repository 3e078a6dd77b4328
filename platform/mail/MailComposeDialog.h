#pragma once
// The mail composer: a sheet over the screen prefilled with recipients, subject, body and one
// attachment, with Send, Save Draft and Cancel. However it closes, its delegate hears exactly
// one outcome. Sending and saving run beside the event loop: the screen keeps moving. Send
// closes the sheet at once; the object lives on, hidden, until sendmail's outcome is known.
#include <QDialog>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/mail/BackgroundJob.h"
#include "platform/mail/MimeMessage.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace fm::platform {

class SendmailRun;

// Outcome codes handed to the delegate.
enum MailComposeResult : int {
    MailComposeResultCancelled = 0,  // nothing sent or saved
    MailComposeResultSaved = 1,      // written to the Drafts folder
    MailComposeResultSent = 2,       // sendmail read all of it and exited with status 0
    MailComposeResultFailed = 3,     // sendmail refused it, or the draft could not be written
};

// Above this a message is refused by many mail servers.
inline constexpr std::uint64_t kLargeMessageBytes = 20u * 1000u * 1000u;

class MailComposeDialog : public QDialog {
    Q_OBJECT
  public:
    // error is empty unless the result is MailComposeResultFailed; then it says why. Without a
    // delegate a failure goes to standard error.
    using Delegate =
        std::function<void(MailComposeDialog* controller, int result, const std::string& error)>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    explicit MailComposeDialog(QWidget* parent = nullptr);
    ~MailComposeDialog() override;

    void setMailComposeDelegate(Delegate delegate) { delegate_ = std::move(delegate); }
    // The time stamped on the message and the draft's name; the system clock by default.
    void setClock(Clock clock) { clock_ = std::move(clock); }

    void setSubject(const std::string& subject);
    void setToRecipients(const std::vector<std::string>& recipients);
    void setMessageBody(const std::string& body);
    // The attachment is read when the message is sent or saved, never held whole.
    void addAttachment(std::shared_ptr<AttachmentSource> source, const std::string& mimeType,
                       const std::string& fileName);

    // Shows the composer modally over its parent, covering it, without blocking the caller.
    void present();
    // Closes the composer and frees it once control returns to the event loop.
    void dismiss();
    // Sending or saving, not yet finished (a sending composer is no longer shown).
    bool busy() const { return busy_; }

    QPushButton* sendButton() const { return send_; }
    QPushButton* saveDraftButton() const { return saveDraft_; }
    QPushButton* cancelButton() const { return cancel_; }

    void reject() override;  // Escape and the window's close button cancel

  private:
    MailContent content() const;
    void setBusy(bool busy, const QString& status);
    void sendNow();
    void saveDraftNow();
    void finish(int result, const std::string& error = {});

    QLineEdit* to_;
    QLineEdit* subject_;
    QPlainTextEdit* body_;
    QLabel* attachmentLabel_;
    QLabel* sizeWarning_;
    QLabel* status_;
    QPushButton* send_;
    QPushButton* saveDraft_;
    QPushButton* cancel_;
    std::shared_ptr<AttachmentSource> attachment_;
    std::string attachmentType_;
    std::string attachmentName_;
    Delegate delegate_;
    Clock clock_;
    SendmailRun* sendmail_ = nullptr;
    bool busy_ = false;
    bool finished_ = false;
    BackgroundJob job_;  // last: it is waited for before anything it uses goes
};

}  // namespace fm::platform
