// The controller's mail and motion-file operations hand over to the mail export and the raw
// motion conversion.
#include <QLabel>

#include "audio/SignalState.h"
#include "mail/MailExport.h"
#include "recording/RawMotionPlist.h"
#include "recording/RawMotionWav.h"
#include "screen/ViewController.h"
#include "toolkit/AlertView.h"

namespace fm::screen {

void ViewController::writeRawAccelDataToFile() {
    fm::recording::finishRawAccelDataFile();
    fm::recording::writeRawAccelDataToFile();
}

void ViewController::processAndWriteToFile() {
    fm::recording::finishRawAccelDataFile();  // the series is not to be read while a conversion
                                              // uses it
    fm::recording::processAndWriteToFile();
}

fm::mail::MailExport& ViewController::mailExport() {
    if (!mailExport_) {
        fm::mail::MailExportHooks hooks;
        hooks.parentWidget = [this] { return static_cast<QWidget*>(this); };
        hooks.setTimeLabelText = [this](const std::string& text) {
            timeLabel->setText(QString::fromStdString(text));
        };
        hooks.showAlert = [this](const std::string& title, const std::string& message,
                                 const std::string& button) {
            fm::toolkit::AlertView(QString::fromStdString(title), QString::fromStdString(message),
                                   QString::fromStdString(button), this)
                .show();
        };
        hooks.recordingPath = [] { return fm::audio::cleanRecordFileURL; };
        mailExport_ = std::make_unique<fm::mail::MailExport>(std::move(hooks));
    }
    return *mailExport_;
}

void ViewController::mailFile(QObject* sender) {
    mailExport().mailFile(sender);
}

void ViewController::mailComposeControllerDidFinish(fm::platform::MailComposeDialog* controller,
                                                    int result, const std::string& error) {
    mailExport().mailComposeControllerDidFinish(controller, result, error);
}

}  // namespace fm::screen
