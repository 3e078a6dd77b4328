#include "platform/mail/Sendmail.h"

#include <unistd.h>

#include <QProcess>
#include <cstdlib>
#include <sstream>

namespace fm::platform {
namespace {

bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> onPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return executable(name) ? std::optional(name) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (executable(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> findSendmail() {
    if (const char* named = std::getenv("SENDMAIL"); named != nullptr && *named != '\0') {
        return onPath(named);
    }
    if (auto found = onPath("sendmail")) {
        return found;
    }
    for (const char* path : {"/usr/sbin/sendmail", "/usr/lib/sendmail"}) {
        if (executable(path)) {
            return std::string(path);
        }
    }
    return std::nullopt;
}

bool canSendMail() {
    return findSendmail().has_value();
}

SendmailResult sendWithSendmail(const std::string& message, int timeoutMs) {
    SendmailResult result;
    const auto program = findSendmail();
    if (!program) {
        result.error = "no sendmail program is installed";
        return result;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(*program), {"-t", "-oi"});
    if (!process.waitForStarted(timeoutMs)) {
        result.error = *program + " did not start: " + process.errorString().toStdString();
        return result;
    }
    process.write(message.data(), static_cast<qint64>(message.size()));
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        result.error =
            *program + " did not finish within " + std::to_string(timeoutMs / 1000) + " s";
        return result;
    }
    const std::string errors = process.readAllStandardError().trimmed().toStdString();
    if (process.exitStatus() != QProcess::NormalExit) {
        result.error = *program + " crashed" + (errors.empty() ? "" : ": " + errors);
    } else if (process.exitCode() != 0) {
        result.error = *program + " exited with status " + std::to_string(process.exitCode()) +
                       (errors.empty() ? "" : ": " + errors);
    } else {
        result.queued = true;
    }
    return result;
}

}  // namespace fm::platform
