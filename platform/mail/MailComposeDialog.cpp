#include "platform/mail/MailComposeDialog.h"

#include <unistd.h>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <sstream>

#include "platform/documents/DocumentsFolder.h"
#include "platform/mail/DraftFolder.h"
#include "platform/mail/Sendmail.h"

namespace fm::platform {
namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    const auto last = s.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

// A descriptor that is closed unless someone takes it.
struct OwnedFd {
    explicit OwnedFd(int f) : fd(f) {}
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int release() { return std::exchange(fd, -1); }
    int fd;
};

struct BuiltMessage {
    std::shared_ptr<OwnedFd> file;
    std::string error;
};

struct SavedDraft {
    std::string path;
    std::string error;
};

}  // namespace

MailComposeDialog::MailComposeDialog(QWidget* parent)
    : QDialog(parent),
      to_(new QLineEdit(this)),
      subject_(new QLineEdit(this)),
      body_(new QPlainTextEdit(this)),
      attachmentLabel_(new QLabel(tr("(none)"), this)),
      sizeWarning_(new QLabel(this)),
      status_(new QLabel(this)),
      send_(new QPushButton(tr("Send"), this)),
      saveDraft_(new QPushButton(tr("Save Draft"), this)),
      cancel_(new QPushButton(tr("Cancel"), this)),
      clock_([] { return std::chrono::system_clock::now(); }) {
    setWindowTitle(tr("New Message"));
    to_->setObjectName("toField");
    subject_->setObjectName("subjectField");
    body_->setObjectName("bodyField");
    attachmentLabel_->setObjectName("attachmentLabel");
    sizeWarning_->setObjectName("sizeWarning");
    status_->setObjectName("statusLabel");
    // The sheet is as narrow as the screen: long texts wrap instead of widening it.
    attachmentLabel_->setWordWrap(true);
    sizeWarning_->setWordWrap(true);
    sizeWarning_->setStyleSheet("color: #b00000;");
    sizeWarning_->hide();
    status_->setWordWrap(true);
    status_->hide();

    auto* fields = new QFormLayout;
    fields->setRowWrapPolicy(QFormLayout::DontWrapRows);
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(tr("To:"), to_);
    fields->addRow(tr("Subject:"), subject_);
    fields->addRow(tr("Attached:"), attachmentLabel_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    buttons->addWidget(saveDraft_);
    buttons->addWidget(send_);
    for (QPushButton* b : {cancel_, saveDraft_, send_}) {
        b->setAutoDefault(false);
        b->setMinimumWidth(0);
    }
    send_->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(fields);
    layout->addWidget(sizeWarning_);
    layout->addWidget(body_, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    connect(send_, &QPushButton::clicked, this, &MailComposeDialog::sendNow);
    connect(saveDraft_, &QPushButton::clicked, this, &MailComposeDialog::saveDraftNow);
    connect(cancel_, &QPushButton::clicked, this, [this] { finish(MailComposeResultCancelled); });
}

MailComposeDialog::~MailComposeDialog() {
    // Going away before its outcome (the program quits while sendmail works): the sendmail run
    // ends with it, and nobody is left to tell but standard error.
    if (busy_ && !finished_) {
        std::fprintf(stderr, "Mail failed: the program ended before the message was %s\n",
                     sendmail_ != nullptr ? "sent" : "written");
    }
}

void MailComposeDialog::setSubject(const std::string& subject) {
    subject_->setText(QString::fromStdString(subject));
}

void MailComposeDialog::setToRecipients(const std::vector<std::string>& recipients) {
    std::string joined;
    for (const auto& r : recipients) {
        joined += (joined.empty() ? "" : ", ") + r;
    }
    to_->setText(QString::fromStdString(joined));
}

void MailComposeDialog::setMessageBody(const std::string& body) {
    body_->setPlainText(QString::fromStdString(body));
}

void MailComposeDialog::addAttachment(std::shared_ptr<AttachmentSource> source,
                                      const std::string& mimeType, const std::string& fileName) {
    attachment_ = std::move(source);
    attachmentType_ = mimeType;
    attachmentName_ = fileName;
    const std::uint64_t bytes = attachment_ ? attachment_->size() : 0;
    attachmentLabel_->setText(
        tr("%1 (%2, %3 bytes)")
            .arg(QString::fromStdString(fileName), QString::fromStdString(mimeType))
            .arg(bytes));
    const std::uint64_t message = estimatedMessageBytes(bytes);
    sizeWarning_->setVisible(message > kLargeMessageBytes);
    sizeWarning_->setText(tr("This message will be about %1 MB. Many mail servers refuse "
                             "messages over %2 MB.")
                              .arg((message + 500000) / 1000000)
                              .arg(kLargeMessageBytes / 1000000));
}

void MailComposeDialog::present() {
    if (QWidget* over = parentWidget()) {
        // A sheet over the whole screen, as on the phone: every control stays inside it.
        setWindowModality(Qt::WindowModal);
        setFixedSize(over->size());
        move(over->mapToGlobal(QPoint(0, 0)));
    } else {
        setWindowModality(Qt::ApplicationModal);
    }
    show();
}

void MailComposeDialog::dismiss() {
    finished_ = true;  // a dismissed composer reports nothing more
    hide();
    deleteLater();
}

void MailComposeDialog::reject() {
    if (busy_) {
        return;  // the outcome of the send or save under way comes first
    }
    finish(MailComposeResultCancelled);
}

MailContent MailComposeDialog::content() const {
    MailContent content;
    std::istringstream list(to_->text().toStdString());
    for (std::string address; std::getline(list, address, ',');) {
        if (!trimmed(address).empty()) {
            content.to.push_back(trimmed(address));
        }
    }
    content.subject = subject_->text().toStdString();
    content.body = body_->toPlainText().toStdString();
    content.attachmentName = attachmentName_;
    content.attachmentType = attachmentType_;
    content.attachment = attachment_;
    content.date = clock_();
    return content;
}

void MailComposeDialog::setBusy(bool busy, const QString& status) {
    busy_ = busy;
    for (QWidget* w :
         std::initializer_list<QWidget*>{to_, subject_, body_, send_, saveDraft_, cancel_}) {
        w->setEnabled(!busy);
    }
    status_->setText(status);
    status_->setVisible(busy);
}

void MailComposeDialog::sendNow() {
    if (finished_ || busy_) {
        return;
    }
    setBusy(true, tr("Sending…"));
    // Closed at once, as a phone's mail sheet closes: the screen shows again while the message
    // is written and sendmail takes it; the outcome comes to the delegate afterwards.
    hide();
    std::function<BuiltMessage(const std::atomic<bool>&)> build =
        [mail = content()](const std::atomic<bool>& cancelled) {
            BuiltMessage built;
            const int fd = createScratchFile(&built.error);
            if (fd < 0) {
                return built;
            }
            built.file = std::make_shared<OwnedFd>(fd);
            if (!writeMimeMessage(mail, fd, &built.error, &cancelled)) {
                built.file.reset();
            }
            return built;
        };
    job_.run<BuiltMessage>(this, std::move(build), [this](BuiltMessage built) {
        if (!built.file) {
            finish(MailComposeResultFailed, "the message could not be written: " + built.error);
            return;
        }
        sendmail_ = new SendmailRun(this);
        sendmail_->start(built.file->release(), [this](const SendmailResult& sent) {
            if (sent.queued) {
                finish(MailComposeResultSent);
                return;
            }
            finish(MailComposeResultFailed, sent.error);
        });
    });
}

void MailComposeDialog::saveDraftNow() {
    if (finished_ || busy_) {
        return;
    }
    setBusy(true, tr("Saving…"));
    std::function<SavedDraft(const std::atomic<bool>&)> save =
        [mail = content(), folder = documentsFolder()](const std::atomic<bool>& cancelled) {
            SavedDraft saved;
            saved.path = saveDraft(
                folder,
                [&](int fd, std::string* why) {
                    return writeMimeMessage(mail, fd, why, &cancelled);
                },
                mail.date, &saved.error);
            return saved;
        };
    job_.run<SavedDraft>(this, std::move(save), [this](SavedDraft saved) {
        if (saved.path.empty()) {
            finish(MailComposeResultFailed, "the draft could not be saved: " + saved.error);
            return;
        }
        finish(MailComposeResultSaved);
    });
}

void MailComposeDialog::finish(int result, const std::string& error) {
    if (finished_) {
        return;
    }
    finished_ = true;
    setBusy(false, {});
    if (delegate_) {
        delegate_(this, result, error);  // the delegate says how it ended and dismisses us
    } else {
        if (result == MailComposeResultFailed) {
            std::fprintf(stderr, "Mail failed: %s\n", error.c_str());
        }
        dismiss();
    }
}

}  // namespace fm::platform
