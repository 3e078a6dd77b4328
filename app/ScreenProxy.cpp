#include "app/ScreenProxy.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

namespace fm::app {

ScreenProxy::ScreenProxy() {
    // The exposed rectangle then bounds what is repainted rather than the whole screen.
    setFlag(QGraphicsItem::ItemUsesExtendedStyleOption);
}

void ScreenProxy::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) {
    QWidget* screen = widget();
    if (screen == nullptr || !screen->isVisible()) {
        return;
    }
    QRegion area((option->exposedRect & rect()).toAlignedRect());
    bool invertible = false;
    const QTransform toScreen = painter->worldTransform().inverted(&invertible);
    if (!repainted_.isEmpty() && invertible) {
        // Each repainted rectangle in whole points of the screen: a point partly inside is drawn
        // whole, and the paint's clip keeps the pixels around it as they are.
        QRegion repainted;
        for (const QRect& r : repainted_) {
            repainted += toScreen.mapRect(QRectF(r)).toAlignedRect();
        }
        area &= repainted;
    }
    if (area.isEmpty()) {
        return;
    }
    // The area's corner goes where it lies on the screen: the screen's points are the item's.
    screen->render(painter, area.boundingRect().topLeft(), area);
}

}  // namespace fm::app
