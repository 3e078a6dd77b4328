#include "app/ScreenWindow.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QPaintEvent>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fm::app {

ScreenWindow::ScreenWindow(QWidget* screen, double scale) : scale_(scale) {
    life_.start();
    auto* scene = new QGraphicsScene(this);
    proxy_ = scene->addWidget(screen);
    setScene(scene);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                   QPainter::TextAntialiasing);
    setBackgroundBrush(Qt::black);
    // Only what changed is drawn again: the meters touch a few small views per tick.
    setViewportUpdateMode(QGraphicsView::MinimalViewportUpdate);
    setCacheMode(QGraphicsView::CacheNone);
    relayout();
    // Keys belong to the screen: when a message box over it closes, the screen takes the
    // keyboard back (the scene would otherwise leave it with nobody).
    connect(scene, &QGraphicsScene::focusItemChanged, this,
            [this, screen](QGraphicsItem* now, QGraphicsItem*, Qt::FocusReason) {
                if (now == nullptr) {
                    QTimer::singleShot(0, this, [this, screen] {
                        if (this->scene()->focusItem() == nullptr) {
                            proxy_->setFocus();
                            screen->setFocus();
                        }
                    });
                }
            });
}

ScreenWindow::~ScreenWindow() {
    if (std::getenv("FM_PAINT_STATS") != nullptr) {
        std::fprintf(stderr, "fieldmeter: painted %llu device pixels in %llu paints over %.2f s\n",
                     static_cast<unsigned long long>(paintedPixels_),
                     static_cast<unsigned long long>(paints_),
                     static_cast<double>(life_.elapsed()) / 1000.0);
    }
}

void ScreenWindow::paintEvent(QPaintEvent* event) {
    const double ratio = viewport()->devicePixelRatioF();
    for (const QRect& r : event->region()) {
        paintedPixels_ +=
            static_cast<std::uint64_t>(std::llround(r.width() * ratio * r.height() * ratio));
    }
    ++paints_;
    QGraphicsView::paintEvent(event);
}

void ScreenWindow::setInterfaceOrientation(int orientation) {
    if (orientation == orientation_ || orientation < 1 || orientation > 4) {
        return;
    }
    orientation_ = orientation;
    relayout();
}

void ScreenWindow::relayout() {
    const QSizeF size = proxy_->size();
    double angle = 0.0;
    switch (orientation_) {
        case 2:
            angle = 180.0;
            break;
        case 3:
            angle = 90.0;
            break;  // landscape right: home button on the right
        case 4:
            angle = -90.0;
            break;
        default:
            break;
    }
    proxy_->setTransformOriginPoint(size.width() / 2, size.height() / 2);
    proxy_->setRotation(angle);
    const bool sideways = orientation_ == 3 || orientation_ == 4;
    const QSizeF shown = sideways ? size.transposed() : size;
    QTransform zoom;
    zoom.scale(scale_, scale_);
    setTransform(zoom);
    const QRectF bounds = proxy_->sceneBoundingRect();
    setSceneRect(bounds);
    setFixedSize(static_cast<int>(std::lround(shown.width() * scale_)),
                 static_cast<int>(std::lround(shown.height() * scale_)));
    centerOn(bounds.center());
}

}  // namespace fm::app
