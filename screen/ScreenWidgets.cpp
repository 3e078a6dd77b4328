#include <QFontMetricsF>
#include <QLabel>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "resources/Palette.h"
#include "screen/BackdropLabel.h"
#include "screen/FittedText.h"
#include "screen/FloatSlider.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "toolkit/Images.h"

namespace fm::screen {

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
    setImage(fm::toolkit::imageNamed(name));
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
    setImage(fm::toolkit::imageNamed(name));
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

void ImageView::mousePressEvent(QMouseEvent* event) {
    // Only a view that does something with a tap takes the press; the release comes only to
    // the one that took it (in the window's graphics view too).
    if (event->button() != Qt::LeftButton ||
        !isSignalConnected(QMetaMethod::fromSignal(&ImageView::tapped))) {
        pressed_ = false;
        event->ignore();
        return;
    }
    pressed_ = true;
    pressPosition_ = event->position();
    event->accept();
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressed_) {
        event->ignore();
        return;
    }
    pressed_ = false;
    // Like a button: released over the view, and not moved as far as a swipe.
    constexpr double kTapSlop = 10.0;  // points
    const QPointF travel = event->position() - pressPosition_;
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        std::abs(travel.x()) < kTapSlop && std::abs(travel.y()) < kTapSlop) {
        emit tapped();
    }
    event->accept();
}

// BackdropLabel

BackdropLabel::BackdropLabel(QWidget* parent) : QLabel(parent) {}

void BackdropLabel::setHugsText(bool on) {
    hugsText_ = on;
    update();
}

QRect BackdropLabel::backdropRect() const {
    if (!hugsText_) {
        return rect();
    }
    if (text().isEmpty()) {
        return {};
    }
    // Where QLabel puts its text: inside the margin, and the indent on the aligned side.
    const int m = margin();
    QRect area = contentsRect().adjusted(m, m, -m, -m);
    const int in = std::max(0, indent());
    if (alignment() & Qt::AlignLeft) {
        area.setLeft(area.left() + in);
    } else if (alignment() & Qt::AlignRight) {
        area.setRight(area.right() - in);
    }
    const int flags = static_cast<int>(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
    const QRect textRect = style()->itemTextRect(fontMetrics(), area, flags, isEnabled(), text());
    constexpr int kPadding = 4;  // points beside the text, 1 above and below
    return textRect.adjusted(-kPadding, -1, kPadding, 1) & rect();
}

void BackdropLabel::paintEvent(QPaintEvent* event) {
    const QRect backdrop = backdropRect();
    if (!backdrop.isEmpty()) {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(fm::palette::panel);
        p.drawRoundedRect(QRectF(backdrop), 4.0, 4.0);
    }
    QLabel::paintEvent(event);
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

// Fitted text

namespace {

// The width the text takes in `font`: its advance, or its ink where that reaches further.
double textWidth(const QFont& font, const QString& text) {
    const QFontMetricsF metrics(font);
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width());
}

}  // namespace

QString digitsAsEights(const QString& text) {
    QString shape = text;
    for (QChar& c : shape) {
        if (c.isDigit()) {
            c = QLatin1Char('8');
        }
    }
    return shape;
}

void setTextFittingWidth(QLabel* label, const QString& text, int fullPixelSize) {
    const int margin = label->margin();
    const double room = label->contentsRect().width() - 2.0 * margin;
    // Shaping text is most of a meter tick's cost, and the readings change every tick while
    // their shape seldom does: the size is found for the text with every digit an 8 (no digit
    // is wider in the read-out's fonts) and kept until the shape or the room changes.
    const QString shape = digitsAsEights(text);
    const QString key = shape + QLatin1Char('|') + QString::number(room) + QLatin1Char('|') +
                        QString::number(fullPixelSize);
    int size = fullPixelSize;
    if (label->property("fittedFor").toString() == key) {
        size = label->property("fittedSize").toInt();
    } else {
        QFont font = label->font();
        font.setPixelSize(fullPixelSize);
        const double full = textWidth(font, shape);
        if (full > room && full > 0.0 && room > 0.0) {
            // Widths grow about in proportion to the size; hinting can need a step more.
            size = std::max(1, static_cast<int>(fullPixelSize * room / full));
            font.setPixelSize(size);
            while (size > 1 && textWidth(font, shape) > room) {
                font.setPixelSize(--size);
            }
        }
        label->setProperty("fittedFor", key);
        label->setProperty("fittedSize", size);
    }
    if (label->font().pixelSize() != size) {
        QFont font = label->font();
        font.setPixelSize(size);
        label->setFont(font);
    }
    label->setText(text);
}

}  // namespace fm::screen
