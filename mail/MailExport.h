#pragma once
// The mail button: the recording, as "spookySounds.wav", in a prepared mail; and the report of
// how the composer closed. The screen controller owns one and forwards its two actions here.
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QObject;
class QWidget;

namespace fm::platform {
class MailComposeDialog;
class DesktopMail;
}  // namespace fm::platform

namespace fm::mail {

// What the mail export needs from the screen; tests set every one of them.
struct MailExportHooks {
    std::function<QWidget*()> parentWidget;                    // over which the composer opens
    std::function<void(const std::string&)> setTimeLabelText;  // the screen's time label
    std::function<void(const std::string& title, const std::string& message,
                       const std::string& button)>
        showAlert;
    std::function<std::string()> recordingPath;  // cleanRecordFileURL
    // When the mail is written; the system clock when unset. The date is formatted in ICU's
    // default locale and time zone.
    std::function<std::chrono::system_clock::time_point()> now;
    // One line per outcome; a line on standard error when unset.
    std::function<void(const std::string&)> log;
};

inline constexpr const char* kMailRecipient = "field.recordings@example.com";
inline constexpr const char* kMailSubject = "Top Secret EMF fields!";
inline constexpr const char* kMailAttachmentName = "spookySounds.wav";
inline constexpr const char* kMailAttachmentType = "audio/wav";

class MailExport {
  public:
    explicit MailExport(MailExportHooks hooks);
    ~MailExport();

    // The mail button's action. Opens the composer with the recording attached and returns it;
    // while one is on show, brings that one forward instead (one that is sending is not). Without
    // sendmail, hands the recording to the desktop's mail program (xdg-email) when there is one.
    // Returns nullptr when no composer opens: after an alert (no way to mail, or nothing recorded)
    // or a handover to the desktop.
    platform::MailComposeDialog* mailFile(QObject* sender = nullptr);

    // The composer's delegate: logs the outcome in one line, shows "Email sending" for a queued
    // mail, an alert with the reason for a failure, and dismisses the composer.
    void mailComposeControllerDidFinish(platform::MailComposeDialog* controller, int result,
                                        const std::string& error);

  private:
    void log(const std::string& line) const;
    void handToDesktopMail(const std::string& program, const std::string& recording);

    MailExportHooks hooks_;
    bool alertsGoToLog_ = false;  // no alert hook: an alert would repeat the logged line
    QPointer<platform::MailComposeDialog> composer_;
    std::unique_ptr<platform::DesktopMail> desktopMail_;
};

}  // namespace fm::mail
