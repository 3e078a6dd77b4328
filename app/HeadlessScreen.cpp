#include "app/HeadlessScreen.h"

#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/ScreenPng.h"
#include "platform/documents/DocumentsFolder.h"

namespace fm::app {

HeadlessScreen::HeadlessScreen(QWidget* screen, QString path, double scale, double everySeconds)
    : screen_(screen), path_(std::move(path)), scale_(scale) {
    if (!(everySeconds > 0.0)) {
        return;
    }
    connect(&timer_, &QTimer::timeout, this, &HeadlessScreen::save);
    timer_.start(static_cast<int>(std::lround(everySeconds * 1000.0)));
    // The first picture as soon as the loop runs.
    QTimer::singleShot(0, this, &HeadlessScreen::save);
}

bool HeadlessScreen::save() {
    const QSize size(static_cast<int>(std::lround(screen_->width() * scale_)),
                     static_cast<int>(std::lround(screen_->height() * scale_)));
    // Kept between saves: a fresh picture every second would be fresh pages from the kernel,
    // each one faulted in and cleared.
    if (image_.size() != size) {
        image_ = QImage(size, QImage::Format_RGB32);
        image_.setDevicePixelRatio(scale_);
    }
    QImage& image = image_;
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        screen_->render(&painter);
    }
    // Written beside and renamed over the old picture, so a reader never sees half a file.
    // No sync to disk: it is a view of the screen, rewritten every second.
    const QString partial = path_ + ".part";
    // Never through a link placed at the partial file's name.
    std::string why;
    const int fd = fm::platform::openOwnOutputFile(QFile::encodeName(partial).toStdString(), &why);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        why = std::strerror(errno);
        ::close(fd);
    }
    bool ok = file != nullptr && writeScreenPng(image, file, &why);
    if (file != nullptr && std::fclose(file) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok && std::rename(QFile::encodeName(partial).constData(),
                          QFile::encodeName(path_).constData()) != 0) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok) {
        return true;
    }
    if (fd >= 0) {
        QFile::remove(partial);
    }
    // An unusable documents folder is said once, for everything that goes into it.
    if (fm::platform::ensureDocumentsFolderReporting() && !reportedFailure_) {
        reportedFailure_ = true;
        std::fprintf(stderr, "fieldmeter: cannot save %s: %s: %s\n", qPrintable(path_),
                     qPrintable(partial), why.c_str());
    }
    return false;
}

void HeadlessScreen::readKeysFrom(int fd) {
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &HeadlessScreen::readKeys);
}

void HeadlessScreen::readKeys() {
    char buffer[256];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) {
        notifier_->setEnabled(false);  // end of input: no more keys
        return;
    }
    pending_.append(buffer, static_cast<int>(n));
    int newline;
    while ((newline = pending_.indexOf('\n')) >= 0) {
        const QString name = QString::fromUtf8(pending_.left(newline)).trimmed();
        pending_.remove(0, newline + 1);
        if (!name.isEmpty()) {
            press(name);
        }
    }
}

int HeadlessScreen::keyForName(const QString& name) {
    static const std::pair<const char*, int> kNames[] = {
        {"right", Qt::Key_Right},
        {"left", Qt::Key_Left},
        {"r", Qt::Key_R},
        {"m", Qt::Key_M},
        {"w", Qt::Key_W},
        {"i", Qt::Key_I},
        {"e", Qt::Key_E},
        {"escape", Qt::Key_Escape},
        {"space", Qt::Key_Space},
        {"enter", Qt::Key_Return},
        {"return", Qt::Key_Return},
        {"[", Qt::Key_BracketLeft},
        {"]", Qt::Key_BracketRight},
        {"d", Qt::Key_D},
        {"k", Qt::Key_K},
        {"up", Qt::Key_Up},
        {"down", Qt::Key_Down},
        {"pageup", Qt::Key_PageUp},
        {"pagedown", Qt::Key_PageDown},
        {"home", Qt::Key_Home},
        {"end", Qt::Key_End},
    };
    const QString lower = name.toLower();
    for (const auto& [text, key] : kNames) {
        if (lower == QLatin1String(text)) {
            return key;
        }
    }
    return 0;
}

void HeadlessScreen::press(const QString& name) {
    const int key = keyForName(name);
    if (key == 0) {
        std::fprintf(stderr, "fieldmeter: unknown key name \"%s\"\n", qPrintable(name));
        return;
    }
    const QString text = name.size() == 1 ? name : QString();
    // A dialog open over the screen (the mail composer) takes the keys, as it would in a
    // window: Escape cancels it, Enter presses its default button.
    QWidget* target = screen_;
    if (QWidget* modal = QApplication::activeModalWidget();
        modal != nullptr && modal->isVisible()) {
        target = modal->focusWidget() != nullptr ? modal->focusWidget() : modal;
    }
    QKeyEvent pressEvent(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &pressEvent);
    QKeyEvent releaseEvent(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &releaseEvent);
}

}  // namespace fm::app
