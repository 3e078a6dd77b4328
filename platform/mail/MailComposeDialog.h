#pragma once
// The mail composer: a dialog prefilled with recipients, subject, body and one attachment,
// with Send, Save Draft and Cancel. However it closes, its delegate hears exactly one outcome.
#include <QDialog>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace fm::platform {

// Outcome codes handed to the delegate.
enum MailComposeResult : int {
    MailComposeResultCancelled = 0,  // nothing sent or saved
    MailComposeResultSaved = 1,      // written to the Drafts folder
    MailComposeResultSent = 2,       // taken by sendmail (exit status 0)
    MailComposeResultFailed = 3,     // sendmail refused it, or the draft could not be written
};

class MailComposeDialog : public QDialog {
    Q_OBJECT
  public:
    // error is empty unless the result is MailComposeResultFailed.
    using Delegate =
        std::function<void(MailComposeDialog* controller, int result, const std::string& error)>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    explicit MailComposeDialog(QWidget* parent = nullptr);

    void setMailComposeDelegate(Delegate delegate) { delegate_ = std::move(delegate); }
    // The time stamped on the message and the draft's name; the system clock by default.
    void setClock(Clock clock) { clock_ = std::move(clock); }

    void setSubject(const std::string& subject);
    void setToRecipients(const std::vector<std::string>& recipients);
    void setMessageBody(const std::string& body);
    void addAttachmentData(std::vector<unsigned char> data, const std::string& mimeType,
                           const std::string& fileName);

    // Shows the dialog modally over its parent without blocking the caller.
    void present();
    // Closes the dialog and frees it once control returns to the event loop.
    void dismiss();

    QPushButton* sendButton() const { return send_; }
    QPushButton* saveDraftButton() const { return saveDraft_; }
    QPushButton* cancelButton() const { return cancel_; }

    void reject() override;  // Escape and the window's close button cancel

  private:
    std::string buildMessage() const;
    void sendNow();
    void saveDraftNow();
    void finish(int result, const std::string& error = {});

    QLineEdit* to_;
    QLineEdit* subject_;
    QPlainTextEdit* body_;
    QLabel* attachmentLabel_;
    QPushButton* send_;
    QPushButton* saveDraft_;
    QPushButton* cancel_;
    std::vector<unsigned char> attachment_;
    std::string attachmentType_;
    std::string attachmentName_;
    Delegate delegate_;
    Clock clock_;
    bool finished_ = false;
};

}  // namespace fm::platform
