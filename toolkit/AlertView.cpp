#include "toolkit/AlertView.h"

#include <QPushButton>

namespace fm::toolkit {
namespace {
std::vector<ShownAlert>& log() {
    static std::vector<ShownAlert> alerts;
    return alerts;
}
}  // namespace

AlertView::AlertView(QString title, QString message, QString cancelButtonTitle, QWidget* parent)
    : title_(std::move(title)),
      message_(std::move(message)),
      button_(std::move(cancelButtonTitle)),
      parent_(parent) {}

QMessageBox* AlertView::show() {
    log().push_back({title_, message_, button_});
    auto* box = new QMessageBox(parent_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(title_);
    box->setText(title_);
    box->setInformativeText(message_);
    box->setIcon(QMessageBox::NoIcon);
    box->addButton(button_.isEmpty() ? QStringLiteral("OK") : button_, QMessageBox::AcceptRole);
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return box;
}

const std::vector<ShownAlert>& AlertView::shownAlerts() {
    return log();
}

void AlertView::clearShownAlerts() {
    log().clear();
}

}  // namespace fm::toolkit
