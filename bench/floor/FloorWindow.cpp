#include "bench/floor/FloorWindow.h"

#include <QApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <cmath>

namespace {

constexpr int kScreenWidth = 320;     // points
constexpr int kScreenHeight = 480;    // points
constexpr int kPictureEveryMs = 100;  // as often as fieldmeter's meters change

// The one picture, made once: any fixed content of the screen's size will do.
QImage makePicture(QSize pixels, double ratio) {
    QImage picture(pixels, QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    QPainter p(&picture);
    QLinearGradient shade(0, 0, 0, kScreenHeight);
    shade.setColorAt(0.0, QColor(13, 17, 23));
    shade.setColorAt(1.0, QColor(40, 60, 90));
    p.fillRect(QRectF(0, 0, kScreenWidth, kScreenHeight), shade);
    return picture;
}

class PictureWindow : public QWidget {
  public:
    explicit PictureWindow(double scale) {
        setWindowTitle(QStringLiteral("floor"));
        setAttribute(Qt::WA_OpaquePaintEvent);  // the picture covers every pixel
        setFixedSize(static_cast<int>(std::lround(kScreenWidth * scale)),
                     static_cast<int>(std::lround(kScreenHeight * scale)));
        const double ratio = devicePixelRatioF();
        picture_ = makePicture(size() * ratio, ratio);
        connect(&timer_, &QTimer::timeout, this, [this] { update(); });
        timer_.start(kPictureEveryMs);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(QPointF(0, 0), picture_);
    }

  private:
    QImage picture_;
    QTimer timer_;
};

}  // namespace

extern "C" int fmFloorWindow(double scale, double durationSeconds, char* program) {
    int argc = 1;  // the floor's options are its own, none of them Qt's
    char* argv[] = {program, nullptr};
    QApplication app(argc, argv);
    PictureWindow window(scale);
    window.show();
    if (durationSeconds > 0.0) {
        // Precise, as fieldmeter's: a coarse timer may end the run 5% early.
        QTimer::singleShot(static_cast<int>(durationSeconds * 1000.0), Qt::PreciseTimer, &app,
                           &QCoreApplication::quit);
    }
    return QApplication::exec();
}
