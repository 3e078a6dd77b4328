#pragma once
// On a desktop without sendmail: the attachment is written out as a file and handed, with the
// subject and body, to the user's own mail program through xdg-email.
#include <QObject>
#include <QProcess>
#include <functional>
#include <memory>
#include <string>

#include "platform/mail/BackgroundJob.h"
#include "platform/mail/MimeMessage.h"

namespace fm::platform {

struct DesktopMailResult {
    bool handedOver = false;
    std::string attachmentPath;  // where the attachment was written, when it was
    std::string error;
};

class DesktopMail : public QObject {
    Q_OBJECT
  public:
    explicit DesktopMail(QObject* parent = nullptr);
    ~DesktopMail() override;

    // Writes the attachment as folder/fileName (replacing an earlier one whole), then runs
    // `xdg-email --subject S --body B --attach FILE recipient`. done is called once, from the
    // event loop; nothing here blocks it.
    void start(const std::string& program, const MailContent& mail, const std::string& folder,
               std::function<void(const DesktopMailResult&)> done);
    bool running() const { return running_; }

  private:
    void finish(DesktopMailResult result);

    QProcess process_;
    DesktopMailResult result_;
    std::function<void(const DesktopMailResult&)> done_;
    bool running_ = false;
    BackgroundJob job_;
};

}  // namespace fm::platform
