#include "instrument/AlertMail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/mail/MimeMessage.h"
#include "report/AlertJson.h"

namespace fm::instrument {

namespace {

// A clip, read from its file while the message is written.
class FileAttachment : public fm::platform::AttachmentSource {
  public:
    FileAttachment(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileAttachment() override { ::close(fd_); }
    std::int64_t read(char* out, std::size_t len) override {
        const ssize_t n = ::read(fd_, out, len);
        if (n < 0) {
            error_ = std::strerror(errno);
            return -1;
        }
        end_ = n == 0;
        return n;
    }
    bool rewind() override {
        end_ = false;
        return ::lseek(fd_, 0, SEEK_SET) == 0;
    }
    bool atEnd() const override { return end_; }
    std::uint64_t size() const override { return size_; }
    std::string error() const override { return error_; }

  private:
    int fd_;
    std::uint64_t size_;
    bool end_ = false;
    std::string error_;
};

}  // namespace

AlertMail::AlertMail(std::string address, std::string meterName, std::string eventsFolder, Say say)
    : address_(std::move(address)),
      meterName_(std::move(meterName)),
      eventsFolder_(std::move(eventsFolder)),
      say_(std::move(say)) {
    if (!fm::platform::canSendMail()) {
        say_("--alert-mail " + address_ +
             ": no sendmail program is installed (an MTA such as msmtp-mta or postfix); the "
             "alerts are not mailed");
    }
}

AlertMail::~AlertMail() = default;

void AlertMail::send(const fm::measure::LimitAlert& alert) {
    queue_.push_back(alert);
    if (!busy_) {
        next();
    }
}

AlertMail::Built AlertMail::build(const fm::measure::LimitAlert& alert,
                                  const std::atomic<bool>& cancelled) const {
    Built built;
    fm::platform::MailContent content;
    content.to = {address_};
    content.subject = meterName_ + ": " + fm::report::alertLine(alert);
    content.body =
        fm::report::alertLine(alert) + "\n\n" + fm::report::alertJson(alert, meterName_) + "\n";
    content.date = std::chrono::system_clock::now();
    // The episode's first clip, as its JSON names it, when it is small enough to go by mail.
    if (!alert.clips.empty()) {
        const std::string path = eventsFolder_ + "/" + alert.clips.front();
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<std::uint64_t>(info.st_size) < kLargestClip) {
            content.attachment =
                std::make_shared<FileAttachment>(fd, static_cast<std::uint64_t>(info.st_size));
            content.attachmentName = alert.clips.front();
            content.attachmentType = "audio/wav";
        } else {
            if (fd >= 0) {
                ::close(fd);
            }
            content.body += "\nThe clip " + alert.clips.front() + " is not attached (" +
                            (fd < 0 ? "it cannot be read" : "10 MB or more") + ").\n";
        }
    }
    built.fd = fm::platform::createScratchFile(&built.error);
    if (built.fd >= 0 &&
        !fm::platform::writeMimeMessage(content, built.fd, &built.error, &cancelled)) {
        ::close(built.fd);
        built.fd = -1;
    }
    return built;
}

void AlertMail::next() {
    if (queue_.empty() || !fm::platform::canSendMail()) {
        busy_ = false;
        queue_.clear();
        return;
    }
    busy_ = true;
    const fm::measure::LimitAlert alert = queue_.front();
    queue_.pop_front();
    job_.run<Built>(
        this, [this, alert](const std::atomic<bool>& cancelled) { return build(alert, cancelled); },
        [this, name = alert.name](Built built) {
            if (built.fd < 0) {
                say_("the alert mail for " + name + " cannot be made: " + built.error);
                next();
                return;
            }
            run_.start(built.fd, [this, name](const fm::platform::SendmailResult& result) {
                if (!result.queued) {
                    say_("the alert mail for " + name + " to " + address_ +
                         " was not sent: " + result.error);
                }
                next();
            });
        });
}

}  // namespace fm::instrument
