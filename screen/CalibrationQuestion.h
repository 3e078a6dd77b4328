#pragma once
// The question a measured calibration asks before it is used: its result, Keep and Cancel, drawn
// as part of the phone's screen (zoomed and turned with it), never wider than the screen. While
// it is open nothing else of the screen takes a key or a touch: Return answers with the button
// that has the focus (Keep at first), Escape cancels, Tab and Backtab move between the buttons,
// a click answers with the button clicked. Answers once, then closes and deletes itself.
#include <QPointer>
#include <QWidget>
#include <functional>

class QAbstractButton;
class QGraphicsProxyWidget;
class QLabel;
class QPushButton;

namespace fm::screen {

class CalibrationQuestion : public QWidget {
  public:
    // Opens over `screen`: in the window's scene as a modal panel above the screen when the
    // screen is shown through one, otherwise as a cover over the screen's own widgets. The
    // panel in the scene goes with the question.
    CalibrationQuestion(QWidget* screen, const QString& title, const QString& text,
                        std::function<void(bool keep)> answered);

    QString text() const;
    QAbstractButton* keepButton() const;
    QAbstractButton* cancelButton() const;
    QList<QAbstractButton*> buttons() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void answer(bool keep);
    // Keys for the question, from whichever of its widgets has them; true when taken.
    bool takeKey(QEvent* event);

    QLabel* text_;
    QPushButton* keep_;
    QPushButton* cancel_;
    std::function<void(bool)> answered_;
    QPointer<QWidget> screen_;
    QPointer<QGraphicsProxyWidget> panel_;
    bool done_ = false;
};

}  // namespace fm::screen
