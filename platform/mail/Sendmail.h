#pragma once
// The system's mail transport: whatever MTA provides a sendmail program.
#include <optional>
#include <string>

namespace fm::platform {

// The sendmail program to use: $SENDMAIL when set (searched on PATH if it has no slash; no
// fallback, since the user named it), else "sendmail" on PATH, /usr/sbin/sendmail or
// /usr/lib/sendmail. Empty when none is executable.
std::optional<std::string> findSendmail();

// True when a sendmail program is installed.
bool canSendMail();

struct SendmailResult {
    bool queued = false;  // the program took the message and exited with status 0
    std::string error;    // otherwise: why, with the program's error output
};

// Hands message to `sendmail -t -oi` on its standard input (recipients come from the
// headers) and waits at most timeoutMs for it to finish.
SendmailResult sendWithSendmail(const std::string& message, int timeoutMs = 30000);

}  // namespace fm::platform
