#pragma once
// A button drawn entirely by its image (the record, mail, info and close buttons, and the
// instructions cover). The image is scaled to the button's width and laid from its top, so a
// tall image covers a short button without stretching.
#include <QAbstractButton>
#include <QPixmap>

namespace fm::screen {

class ImageButton : public QAbstractButton {
    Q_OBJECT
    // Lets the layout name the image by file name.
    Q_PROPERTY(QString imageName READ imageName WRITE setImageName)

  public:
    explicit ImageButton(QWidget* parent = nullptr);

    // The image for the normal state; a null pixmap shows nothing.
    void setImage(const QPixmap& image);
    const QPixmap& image() const { return image_; }
    QString imageName() const { return imageName_; }
    void setImageName(const QString& name);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap image_;
    QPixmap scaled_;
    QString imageName_;
};

}  // namespace fm::screen
