#pragma once
// A message box with a title, a message and one button (UIAlertView with a cancel button only).
// show() returns at once: the box is not modal to the event loop, and closes (and frees itself)
// when its button is pressed. Every alert shown is also noted in shownAlerts(), so tests can see
// what the user was told without driving a dialog.
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <vector>

namespace fm::toolkit {

struct ShownAlert {
    QString title;
    QString message;
    QString button;
};

class AlertView {
  public:
    AlertView(QString title, QString message, QString cancelButtonTitle, QWidget* parent = nullptr);

    // Shows the box (non-blocking) and notes it. Returns the box, which deletes itself on close.
    QMessageBox* show();

    const QString& title() const { return title_; }
    const QString& message() const { return message_; }
    const QString& cancelButtonTitle() const { return button_; }

    static const std::vector<ShownAlert>& shownAlerts();
    static void clearShownAlerts();

  private:
    QString title_;
    QString message_;
    QString button_;
    QPointer<QWidget> parent_;
};

}  // namespace fm::toolkit
