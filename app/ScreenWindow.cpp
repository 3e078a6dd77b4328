#include "app/ScreenWindow.h"

#include <QGraphicsScene>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "views/DisplayRequest.h"

namespace fm::app {

ScreenWindow::ScreenWindow(QWidget* screen, double scale) : scale_(scale) {
    life_.start();
    auto* scene = new QGraphicsScene(this);
    proxy_ = new ScreenProxy;
    proxy_->setWidget(screen);
    scene->addItem(proxy_);
    setScene(scene);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                   QPainter::TextAntialiasing);
    setBackgroundBrush(Qt::black);
    // Only what changed is drawn again: the meters touch a few small views per tick. The screen
    // draws nothing outside its widgets, so no margin is added around what changed.
    setViewportUpdateMode(QGraphicsView::MinimalViewportUpdate);
    setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing);
    setCacheMode(QGraphicsView::CacheNone);
    relayout();
    // The screen's views ask it to be drawn again (fm::views::requestDisplay): each is repainted
    // here within its own rectangle. Through the proxy, every change of a repaint would reach the
    // scene as one rectangle around all of them.
    screen->installEventFilter(this);
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

void ScreenWindow::keyPressEvent(QKeyEvent* event) {
    // Ctrl+Q closes the window as its close button does: the program then ends, and a
    // recording with it, as the record button would end it. Taken here, before the screen or a
    // dialog over it sees the key, rather than as a shortcut, which only works while the
    // window manager has made this the active window.
    if (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier) {
        event->accept();
        close();
        return;
    }
    QGraphicsView::keyPressEvent(event);
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
    if (proxy_ == nullptr) {
        QGraphicsView::paintEvent(event);
        return;
    }
    proxy_->setRepaintedArea(event->region());
    QGraphicsView::paintEvent(event);
    proxy_->setRepaintedArea(QRegion());
}

bool ScreenWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == fm::views::DisplayRequest::eventType() && proxy_ != nullptr &&
        watched == proxy_->widget()) {
        repaintView(static_cast<fm::views::DisplayRequest*>(event)->view());
        event->accept();
        return true;
    }
    return QGraphicsView::eventFilter(watched, event);
}

void ScreenWindow::repaintView(QWidget* view) {
    QWidget* screen = proxy_->widget();
    const QRect onScreen = QRect(view->mapTo(screen, QPoint(0, 0)), view->size()) & screen->rect();
    if (onScreen.isEmpty()) {
        return;
    }
    // Whole pixels around the view wherever the zoom and the turn put its edges.
    const QRectF inScene = proxy_->mapRectToScene(QRectF(onScreen));
    viewport()->update(viewportTransform().mapRect(inScene).toAlignedRect());
}

void ScreenWindow::setInterfaceOrientation(int orientation) {
    if (orientation == orientation_ || orientation < 1 || orientation > 4) {
        return;
    }
    orientation_ = orientation;
    relayout();
}

void ScreenWindow::relayout() {
    if (proxy_ == nullptr) {
        return;  // the screen is gone: nothing to turn
    }
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
