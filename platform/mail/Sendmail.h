#pragma once
// The system's mail transport: whatever MTA provides a sendmail program; and, on a desktop
// without one, the desktop's own mail program reached through xdg-email.
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

namespace fm::platform {

// The sendmail program to use: $SENDMAIL when set (searched on PATH if it has no slash; no
// fallback, since the user named it), else "sendmail" on PATH, /usr/sbin/sendmail or
// /usr/lib/sendmail. Empty when none is executable.
std::optional<std::string> findSendmail();

// True when a sendmail program is installed.
bool canSendMail();

// xdg-email on PATH, when there is one.
std::optional<std::string> findXdgEmail();

// A new, nameless file in the temporary folder ($TMPDIR or /tmp), open for reading and
// writing; -1 with *error set when none can be made. It goes away when closed.
int createScratchFile(std::string* error);

struct SendmailResult {
    bool queued = false;  // the program read the whole message and exited with status 0
    std::string error;    // otherwise: why, with the program's error output
};

// One run of `sendmail -t -oi` (recipients come from the headers) with the message on its
// standard input, watched from the event loop: the caller never waits. A run that outlives
// its time limit is ended together with every process it started.
class SendmailRun : public QObject {
    Q_OBJECT
  public:
    explicit SendmailRun(QObject* parent = nullptr);
    ~SendmailRun() override;  // ends a run still going, with its process group

    // Starts sendmail reading the file open at messageFd from its first byte; takes the
    // descriptor. done is called once, from the event loop.
    void start(int messageFd, std::function<void(const SendmailResult&)> done,
               int timeoutMs = 30000);
    bool running() const { return process_.state() != QProcess::NotRunning; }

  private:
    void finish(SendmailResult result);
    void endProcessGroup();

    QProcess process_;
    QTimer limit_;
    std::string program_;
    int fd_ = -1;
    int timeoutMs_ = 0;
    bool timedOut_ = false;
    QByteArray errors_;
    std::function<void(const SendmailResult&)> done_;
};

}  // namespace fm::platform
