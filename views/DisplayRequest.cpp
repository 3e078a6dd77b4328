#include "views/DisplayRequest.h"

#include <QCoreApplication>
#include <QWidget>

namespace fm::views {

DisplayRequest::DisplayRequest(QWidget* view) : QEvent(eventType()), view_(view) {
    ignore();  // taken only by whoever accepts it
}

QEvent::Type DisplayRequest::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void requestDisplay(QWidget* view) {
    if (!view->isVisible()) {
        return;
    }
    DisplayRequest request(view);
    QCoreApplication::sendEvent(view->window(), &request);
    if (!request.isAccepted()) {
        view->update();
    }
}

}  // namespace fm::views
