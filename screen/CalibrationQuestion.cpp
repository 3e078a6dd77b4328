#include "screen/CalibrationQuestion.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace fm::screen {

namespace {

// Side margins of the box inside the screen, in the screen's points.
constexpr int kMargin = 16;

QPushButton* makeButton(const QString& text, const char* name, const char* fill, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setFocusPolicy(Qt::StrongFocus);
    b->setAutoDefault(false);
    b->setMinimumHeight(32);
    // Flat, solid colours: the same at every zoom, and the focus shown by a white ring.
    b->setStyleSheet(QStringLiteral("QPushButton { color: white; background-color: %1;"
                                    " border: 2px solid %1; border-radius: 6px; font-size: 14px;"
                                    " font-weight: bold; padding: 4px 10px; }"
                                    " QPushButton:focus { border-color: white; }")
                         .arg(QLatin1String(fill)));
    return b;
}

}  // namespace

CalibrationQuestion::CalibrationQuestion(QWidget* screen, const QString& title, const QString& text,
                                         std::function<void(bool keep)> answered)
    : answered_(std::move(answered)), screen_(screen) {
    setObjectName(QStringLiteral("calibrationQuestion"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The cover takes every touch meant for the screen under it, and lets the screen be seen.
    setAttribute(Qt::WA_NoMousePropagation);
    setAttribute(Qt::WA_TranslucentBackground);

    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("calibrationBox"));
    box->setAttribute(Qt::WA_StyledBackground);
    box->setStyleSheet(QStringLiteral(
        "QWidget#calibrationBox { background-color: rgb(31, 41, 55); border-radius: 10px; }"
        " QLabel { color: rgb(229, 231, 235); }"));
    auto* heading = new QLabel(title, box);
    QFont bold = heading->font();
    bold.setPixelSize(16);
    bold.setBold(true);
    heading->setFont(bold);
    heading->setAlignment(Qt::AlignHCenter);
    text_ = new QLabel(text, box);
    text_->setObjectName(QStringLiteral("calibrationText"));
    QFont plain = text_->font();
    plain.setPixelSize(13);
    text_->setFont(plain);
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cancel_ = makeButton(QStringLiteral("Cancel"), "calibrationCancel", "rgb(185, 28, 28)", box);
    keep_ = makeButton(QStringLiteral("Keep"), "calibrationKeep", "rgb(29, 78, 216)", box);
    connect(keep_, &QPushButton::clicked, this, [this] { answer(true); });
    connect(cancel_, &QPushButton::clicked, this, [this] { answer(false); });
    for (QWidget* w : {static_cast<QWidget*>(keep_), static_cast<QWidget*>(cancel_)}) {
        w->installEventFilter(this);
    }

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(cancel_);
    buttons->addWidget(keep_);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(10);
    column->addWidget(heading);
    column->addWidget(text_);
    column->addLayout(buttons);

    // The box is as wide as the screen allows and as high as its wrapped text needs.
    const QSize screenSize = screen->size();
    const int boxWidth = screenSize.width() - 2 * kMargin;
    box->setFixedWidth(boxWidth);
    int needed = column->heightForWidth(boxWidth);
    if (needed <= 0) {
        needed = column->sizeHint().height();
    }
    const int boxHeight = std::min(needed, screenSize.height() - 2 * kMargin);
    box->setFixedHeight(boxHeight);
    box->move(kMargin, (screenSize.height() - boxHeight) / 2);
    resize(screenSize);

    if (QGraphicsProxyWidget* screenItem = screen->graphicsProxyWidget()) {
        // In the window's scene: a modal panel, a child of the screen's item so that the zoom and
        // the turn apply to it too. Other items get no input while it is open, and the swipes,
        // which watch the screen's widgets, do not see touches on it.
        panel_ = new QGraphicsProxyWidget(screenItem);
        panel_->setWidget(this);
        panel_->setPos(0, 0);
        panel_->setFlag(QGraphicsItem::ItemIsPanel);
        panel_->setPanelModality(QGraphicsItem::SceneModal);
        panel_->setZValue(1000);
        if (QGraphicsScene* scene = panel_->scene()) {
            scene->setActivePanel(panel_);
        }
        panel_->setFocus();
    } else {
        setParent(screen);
        move(0, 0);
        show();
        raise();
    }
    show();
    keep_->setFocus(Qt::OtherFocusReason);
}

QString CalibrationQuestion::text() const {
    return text_->text();
}

QAbstractButton* CalibrationQuestion::keepButton() const {
    return keep_;
}

QAbstractButton* CalibrationQuestion::cancelButton() const {
    return cancel_;
}

QList<QAbstractButton*> CalibrationQuestion::buttons() const {
    return {cancel_, keep_};
}

void CalibrationQuestion::answer(bool keep) {
    if (done_) {
        return;
    }
    done_ = true;
    // The keys go back to the screen at once: the next key is the screen's.
    if (panel_ != nullptr) {
        panel_->setPanelModality(QGraphicsItem::NonModal);
        if (QGraphicsScene* scene = panel_->scene()) {
            scene->setActivePanel(nullptr);
        }
        if (QGraphicsItem* screenItem = panel_->parentItem()) {
            screenItem->setFocus(Qt::OtherFocusReason);
        }
    }
    if (screen_ != nullptr) {
        screen_->setFocus(Qt::OtherFocusReason);
    }
    hide();
    if (answered_) {
        answered_(keep);
    }
    // After the answer's handlers ran; a click is still being delivered to a button.
    QTimer::singleShot(0, this, [this] { close(); });
}

bool CalibrationQuestion::takeKey(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // No shortcut of the screen (the arrows' page turns) fires under the question; Ctrl+Q,
        // the window's own, still closes it.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Q && key->modifiers() == Qt::ControlModifier) {
            return false;
        }
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
        // Answered once the key has been delivered: the focus cannot go back to the screen from
        // inside the key's own delivery.
        case Qt::Key_Escape:
            QTimer::singleShot(0, this, [this] { answer(false); });
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            QTimer::singleShot(0, this, [this, keep = !cancel_->hasFocus()] { answer(keep); });
            break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Left:
        case Qt::Key_Right:
            (keep_->hasFocus() ? static_cast<QWidget*>(cancel_) : keep_)
                ->setFocus(Qt::TabFocusReason);
            break;
        case Qt::Key_Space:
            return false;  // the button with the focus presses itself
        default:
            break;  // nothing else of the screen reacts while the question is open
    }
    event->accept();
    return true;
}

bool CalibrationQuestion::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == keep_ || watched == cancel_) && takeKey(event)) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool CalibrationQuestion::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
            if (takeKey(event)) {
                return true;
            }
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            event->accept();
            return true;
        default:
            break;
    }
    return QWidget::event(event);
}

void CalibrationQuestion::paintEvent(QPaintEvent*) {
    // The screen stays visible, dimmed, under the question.
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 150));
}

}  // namespace fm::screen
