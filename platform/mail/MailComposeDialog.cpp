#include "platform/mail/MailComposeDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <sstream>

#include "platform/mail/DraftFolder.h"
#include "platform/mail/MimeMessage.h"
#include "platform/mail/Sendmail.h"

namespace fm::platform {
namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    const auto last = s.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

}  // namespace

MailComposeDialog::MailComposeDialog(QWidget* parent)
    : QDialog(parent),
      to_(new QLineEdit(this)),
      subject_(new QLineEdit(this)),
      body_(new QPlainTextEdit(this)),
      attachmentLabel_(new QLabel(tr("(none)"), this)),
      send_(new QPushButton(tr("Send"), this)),
      saveDraft_(new QPushButton(tr("Save Draft"), this)),
      cancel_(new QPushButton(tr("Cancel"), this)),
      clock_([] { return std::chrono::system_clock::now(); }) {
    setWindowTitle(tr("New Message"));
    to_->setObjectName("toField");
    subject_->setObjectName("subjectField");
    body_->setObjectName("bodyField");
    attachmentLabel_->setObjectName("attachmentLabel");

    auto* fields = new QFormLayout;
    fields->addRow(tr("To:"), to_);
    fields->addRow(tr("Subject:"), subject_);
    fields->addRow(tr("Attachment:"), attachmentLabel_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cancel_);
    buttons->addStretch();
    buttons->addWidget(saveDraft_);
    buttons->addWidget(send_);
    send_->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(body_);
    layout->addLayout(buttons);

    connect(send_, &QPushButton::clicked, this, &MailComposeDialog::sendNow);
    connect(saveDraft_, &QPushButton::clicked, this, &MailComposeDialog::saveDraftNow);
    connect(cancel_, &QPushButton::clicked, this, [this] { finish(MailComposeResultCancelled); });
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

void MailComposeDialog::addAttachmentData(std::vector<unsigned char> data,
                                          const std::string& mimeType,
                                          const std::string& fileName) {
    attachment_ = std::move(data);
    attachmentType_ = mimeType;
    attachmentName_ = fileName;
    attachmentLabel_->setText(
        tr("%1 (%2, %3 bytes)")
            .arg(QString::fromStdString(fileName), QString::fromStdString(mimeType))
            .arg(attachment_.size()));
}

void MailComposeDialog::present() {
    setWindowModality(parentWidget() != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    show();
}

void MailComposeDialog::dismiss() {
    finished_ = true;  // a dismissed composer reports nothing more
    hide();
    deleteLater();
}

void MailComposeDialog::reject() {
    finish(MailComposeResultCancelled);
}

std::string MailComposeDialog::buildMessage() const {
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
    return buildMimeMessage(content);
}

void MailComposeDialog::sendNow() {
    if (finished_) {
        return;
    }
    const SendmailResult sent = sendWithSendmail(buildMessage());
    if (sent.queued) {
        finish(MailComposeResultSent);
        return;
    }
    std::fprintf(stderr, "Mail transport failed: %s\n", sent.error.c_str());
    finish(MailComposeResultFailed, sent.error);
}

void MailComposeDialog::saveDraftNow() {
    if (finished_) {
        return;
    }
    std::string error;
    if (saveDraft(buildMessage(), clock_(), &error).empty()) {
        std::fprintf(stderr, "Could not save the draft %s\n", error.c_str());
        finish(MailComposeResultFailed, error);
        return;
    }
    finish(MailComposeResultSaved);
}

void MailComposeDialog::finish(int result, const std::string& error) {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (delegate_) {
        delegate_(this, result, error);  // the delegate dismisses us
    } else {
        dismiss();
    }
}

}  // namespace fm::platform
