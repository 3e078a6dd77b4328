#include "platform/mail/Sendmail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

// Keeps the end of what the program says: that is where the reason is.
constexpr int kErrorBytesKept = 4096;

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

std::optional<std::string> findXdgEmail() {
    return onPath("xdg-email");
}

int createScratchFile(std::string* error) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without nameless files: a named one, unlinked at once.
        std::string name = folder + "/fieldmeter-mail-XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            unlink(name.c_str());
        }
    }
    if (fd < 0) {
        *error = folder + ": " + std::strerror(errno);
    }
    return fd;
}

SendmailRun::SendmailRun(QObject* parent) : QObject(parent) {
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        timedOut_ = true;
        endProcessGroup();
    });
    connect(&process_, &QProcess::readyReadStandardError, this, [this] {
        errors_ += process_.readAllStandardError();
        if (errors_.size() > kErrorBytesKept) {
            errors_ = errors_.right(kErrorBytesKept);
        }
    });
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            finish({false, program_ + " did not start: " + process_.errorString().toStdString()});
        }
    });
    connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        errors_ += process_.readAllStandardError();
        const std::string said = QString::fromLocal8Bit(errors_).trimmed().toStdString();
        const std::string reason = said.empty() ? std::string() : ": " + said;
        if (timedOut_) {
            const std::string limit = timeoutMs_ % 1000 == 0
                                          ? std::to_string(timeoutMs_ / 1000) + " s"
                                          : std::to_string(timeoutMs_) + " ms";
            finish({false, program_ + " did not finish within " + limit + " and was ended"});
            return;
        }
        if (status != QProcess::NormalExit) {
            finish({false, program_ + " crashed" + reason});
            return;
        }
        if (code != 0) {
            finish({false, program_ + " exited with status " + std::to_string(code) + reason});
            return;
        }
        // The message is a file shared with the child: how far it read is where the file's
        // offset stands. Status 0 without the whole message is no delivery.
        struct stat st {};
        const off_t taken = lseek(fd_, 0, SEEK_CUR);
        if (fstat(fd_, &st) != 0 || taken < 0) {
            finish({false, std::string("cannot tell how much of the message ") + program_ +
                               " read: " + std::strerror(errno)});
            return;
        }
        if (taken < st.st_size) {
            finish({false, program_ + " exited with status 0 but read only " +
                               std::to_string(taken) + " of the message's " +
                               std::to_string(st.st_size) + " bytes" + reason});
            return;
        }
        finish({true, {}});
    });
}

SendmailRun::~SendmailRun() {
    // Whoever asked is going away: the run ends without a report.
    disconnect(&process_, nullptr, this, nullptr);
    done_ = nullptr;
    if (running()) {
        endProcessGroup();
        process_.waitForFinished(1000);  // already killed: only the reaping is left
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void SendmailRun::start(int messageFd, std::function<void(const SendmailResult&)> done,
                        int timeoutMs) {
    fd_ = messageFd;
    done_ = std::move(done);
    timeoutMs_ = timeoutMs;
    const auto program = findSendmail();
    if (!program) {
        finish({false, "no sendmail program is installed"});
        return;
    }
    program_ = *program;
    if (lseek(fd_, 0, SEEK_SET) != 0) {
        finish({false, std::string("cannot read the message back: ") + std::strerror(errno)});
        return;
    }
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardInputFile(QProcess::nullDevice());  // replaced below, in the child
    const int fd = fd_;
    process_.setChildProcessModifier([fd] {
        // The message file itself as standard input (sharing its offset with us), and a
        // process group of its own, so that a run past its limit can be ended whole.
        ::dup2(fd, STDIN_FILENO);
        ::setpgid(0, 0);
    });
    limit_.start(timeoutMs);
    process_.start(QString::fromStdString(program_), {"-t", "-oi"});
}

void SendmailRun::endProcessGroup() {
    const qint64 pid = process_.processId();
    if (pid > 0 && running()) {
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

void SendmailRun::finish(SendmailResult result) {
    limit_.stop();
    if (!done_) {
        return;
    }
    auto done = std::move(done_);
    done_ = nullptr;
    done(result);
}

}  // namespace fm::platform
