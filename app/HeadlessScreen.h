#pragma once
// Running without a display: the screen is saved as an image file every so often (written to a
// temporary name and renamed, so a reader never sees half a file), and key names read from
// standard input, one per line, reach the screen as key presses.
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QSocketNotifier;
class QWidget;

namespace fm::app {

class HeadlessScreen : public QObject {
    Q_OBJECT
  public:
    // `screen` is drawn at `scale` into `path`, first as soon as the event loop runs, then every
    // `everySeconds`; never when that is 0 (a logger that needs no picture draws nothing).
    HeadlessScreen(QWidget* screen, QString path, double scale, double everySeconds = 1.0);

    // Saves now; on failure says why on standard error once, and keeps going.
    bool save();
    // Reads key names from this file descriptor (standard input).
    void readKeysFrom(int fd);

    // The key for a name such as "Right", "R", "[", "Space"; 0 when unknown.
    static int keyForName(const QString& name);

  private:
    void readKeys();
    void press(const QString& name);

    QWidget* screen_;
    QString path_;
    double scale_;
    QTimer timer_;
    bool reportedFailure_ = false;
    QImage image_;  // the screen drawn for the last save
    QSocketNotifier* notifier_ = nullptr;
    QByteArray pending_;
    int fd_ = -1;
};

}  // namespace fm::app
