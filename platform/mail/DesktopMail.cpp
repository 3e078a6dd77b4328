#include "platform/mail/DesktopMail.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fm::platform {
namespace {

// Copies the attachment into path through a temporary name, so that a mail program still
// reading an earlier one keeps what it had.
std::string writeAttachment(AttachmentSource& source, const std::string& path,
                            const std::atomic<bool>& cancelled) {
    const std::string partial = path + ".part";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) {
        return std::filesystem::path(path).parent_path().string() + ": " + ec.message();
    }
    ::unlink(partial.c_str());
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return partial + ": " + std::strerror(errno);
    }
    std::string error;
    std::vector<char> buffer(1 << 16);
    if (!source.rewind()) {
        error = source.error();
    }
    while (error.empty() && !source.atEnd()) {
        if (cancelled) {
            error = "cancelled";
            break;
        }
        const std::int64_t n = source.read(buffer.data(), buffer.size());
        if (n < 0) {
            error = source.error();
            break;
        }
        for (std::int64_t done = 0; done < n;) {
            const ssize_t w = ::write(fd, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                error = partial + ": " + std::strerror(w < 0 ? errno : ENOSPC);
                break;
            }
            done += w;
        }
    }
    if (::close(fd) != 0 && error.empty()) {
        error = partial + ": " + std::strerror(errno);
    }
    if (error.empty() && std::rename(partial.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
    }
    if (!error.empty()) {
        ::unlink(partial.c_str());
    }
    return error;
}

}  // namespace

DesktopMail::DesktopMail(QObject* parent) : QObject(parent) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            result_.error = process_.program().toStdString() +
                            " did not start: " + process_.errorString().toStdString();
            finish(result_);
        }
    });
    connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const std::string said =
            QString::fromLocal8Bit(process_.readAll().right(2048)).trimmed().toStdString();
        if (status == QProcess::NormalExit && code == 0) {
            result_.handedOver = true;
        } else {
            result_.error =
                process_.program().toStdString() +
                (status == QProcess::NormalExit ? " exited with status " + std::to_string(code)
                                                : std::string(" crashed")) +
                (said.empty() ? "" : ": " + said);
        }
        finish(result_);
    });
}

DesktopMail::~DesktopMail() {
    // Whoever asked is going away: xdg-email may finish, but nobody hears of it.
    disconnect(&process_, nullptr, this, nullptr);
    done_ = nullptr;
}

void DesktopMail::start(const std::string& program, const MailContent& mail,
                        const std::string& folder,
                        std::function<void(const DesktopMailResult&)> done) {
    done_ = std::move(done);
    running_ = true;
    result_ = {};
    const std::string path = folder + "/" + mail.attachmentName;
    std::function<std::string(const std::atomic<bool>&)> write =
        [source = mail.attachment, path](const std::atomic<bool>& cancelled) {
            return source ? writeAttachment(*source, path, cancelled) : std::string();
        };
    QStringList args{"--utf8", "--subject", QString::fromStdString(mail.subject), "--body",
                     QString::fromStdString(mail.body)};
    if (mail.attachment) {
        args << "--attach" << QString::fromStdString(path);
    }
    for (const std::string& to : mail.to) {
        args << QString::fromStdString(to);
    }
    job_.run<std::string>(
        this, std::move(write),
        [this, program, path, args, attached = mail.attachment != nullptr](std::string error) {
            if (!error.empty()) {
                result_.error = error;
                finish(result_);
                return;
            }
            if (attached) {
                result_.attachmentPath = path;
            }
            process_.start(QString::fromStdString(program), args);
        });
}

void DesktopMail::finish(DesktopMailResult result) {
    running_ = false;
    if (done_) {
        auto done = std::move(done_);
        done_ = nullptr;
        done(result);
    }
}

}  // namespace fm::platform
