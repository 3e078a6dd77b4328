#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/Images.h"
#include "screen/FloatSlider.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"

// Device pixels per point where the painter draws: the screen's ratio, times the window's
// zoom when the screen is shown scaled.
double pixelRatio(const QPainter& p) {
    const QTransform t = p.deviceTransform();
    return std::max(1.0, std::hypot(t.m11(), t.m12()));
}

// The image scaled once for the view's size and the screen's pixel ratio, so that redraws
// (ten a second, under the meters) only copy pixels.
const QPixmap& scaledForScreen(const QPixmap& image, const QSizeF& size, double ratio,
                               QPixmap* cache) {
    const QSize pixels = (size * ratio).toSize();
    if (cache->isNull() || cache->size() != pixels || cache->devicePixelRatio() != ratio) {
        *cache = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        cache->setDevicePixelRatio(ratio);
    }
    return *cache;
}

// Draws a pixmap made for the painter's pixel ratio (scaledForScreen) pixel for pixel when the
// painter only scales by that ratio and moves by whole device pixels: Qt then copies or blends
// it row by row on this thread. Through the scaling it would take its general path, which also
// hands large blends to its thread pool and waits for them.
void drawPixelForPixel(QPainter& p, const QPixmap& pixmap) {
    const QTransform toDevice = p.deviceTransform();
    const double ratio = pixmap.devicePixelRatio();
    const QPointF origin = toDevice.map(QPointF(0, 0));
    const bool pixelForPixel = toDevice.type() <= QTransform::TxScale &&
                               qFuzzyCompare(toDevice.m11(), ratio) &&
                               qFuzzyCompare(toDevice.m22(), ratio) &&
                               std::abs(origin.x() - std::round(origin.x())) < 1e-6 &&
                               std::abs(origin.y() - std::round(origin.y())) < 1e-6;
    bool invertible = false;
    const QTransform deviceExtra = p.worldTransform().inverted(&invertible) * toDevice;
    const QTransform undoExtra = invertible ? deviceExtra.inverted(&invertible) : QTransform();
    if (!pixelForPixel || !invertible) {
        p.drawPixmap(QPointF(0, 0), pixmap);
        return;
    }
    p.save();
    p.setWorldTransform(undoExtra);
    const QPoint at(static_cast<int>(std::round(origin.x())),
                    static_cast<int>(std::round(origin.y())));
    // In bands low enough for Qt to blend each at once.
    constexpr int kBand = 32;
    for (int y = 0; y < pixmap.height(); y += kBand) {
        const int rows = std::min(kBand, pixmap.height() - y);
        p.drawPixmap(QRectF(at.x(), at.y() + y, pixmap.width(), rows), pixmap,
                     QRectF(0, y, pixmap.width(), rows));
    }
    p.restore();
}

// ImageButton

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);  // keys belong to the screen
}

void ImageButton::setImage(const QPixmap& image) {
    image_ = image;
    scaled_ = QPixmap();
    update();
}

void ImageButton::setImageName(const QString& name) {
    imageName_ = name;
    setImage(fm::app::imageNamed(name));
}

void ImageButton::paintEvent(QPaintEvent*) {
    if (image_.isNull()) {
        return;
    }
    QPainter p(this);
    const QSizeF logical = image_.deviceIndependentSize();
    const double h = logical.height() * width() / std::max(1.0, logical.width());
    drawPixelForPixel(p, scaledForScreen(image_, QSizeF(width(), h), pixelRatio(p), &scaled_));
    if (isDown()) {
        p.fillRect(rect(), QColor(0, 0, 0, 50));
    }
}

// ImageView

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

void ImageView::setImage(const QPixmap& image) {
    image_ = image;
    scaled_ = QPixmap();
    update();
}

void ImageView::setImageName(const QString& name) {
    imageName_ = name;
    setImage(fm::app::imageNamed(name));
}

bool ImageView::passThrough() const {
    return testAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageView::setPassThrough(bool on) {
    setAttribute(Qt::WA_TransparentForMouseEvents, on);
}

void ImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) {
        return;
    }
    QPainter p(this);
    drawPixelForPixel(p, scaledForScreen(image_, size(), pixelRatio(p), &scaled_));
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint())) {
        emit tapped();
    }
}

// FloatSlider

FloatSlider::FloatSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    QSlider::setRange(0, kSteps);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QSlider::valueChanged, this, &FloatSlider::positionMoved);
}

void FloatSlider::setValue(float v) {
    value_ = std::clamp(v, min_, max_);
    syncPosition();
}

void FloatSlider::setMinimumValue(float v) {
    min_ = v;
    max_ = std::max(max_, v);
    setValue(value_);
    syncPosition();
}

void FloatSlider::setMaximumValue(float v) {
    max_ = v;
    min_ = std::min(min_, v);
    setValue(value_);
    syncPosition();
}

void FloatSlider::syncPosition() {
    const float span = max_ - min_;
    const int position =
        span > 0.0f ? static_cast<int>(std::lround((value_ - min_) / span * kSteps)) : 0;
    syncing_ = true;
    QSlider::setValue(position);
    syncing_ = false;
}

void FloatSlider::positionMoved(int position) {
    if (syncing_) {
        return;  // our own repositioning, not the user's drag
    }
    const float v = min_ + (max_ - min_) * static_cast<float>(position) / kSteps;
    if (v != value_) {
        value_ = v;
        emit valueChangedFloat(value_);
    }
}
