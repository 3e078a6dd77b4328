#pragma once
// Shows one image scaled into its frame. A click on it emits tapped() when something listens
// (otherwise the click goes on to what holds it); an image view that should let clicks
// through to what lies below sets passThrough.
#include <QPixmap>
#include <QWidget>

namespace fm::screen {

class ImageView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString imageName READ imageName WRITE setImageName)
    Q_PROPERTY(bool passThrough READ passThrough WRITE setPassThrough)

  public:
    explicit ImageView(QWidget* parent = nullptr);

    void setImage(const QPixmap& image);
    const QPixmap& image() const { return image_; }
    QString imageName() const { return imageName_; }
    void setImageName(const QString& name);
    bool passThrough() const;
    void setPassThrough(bool on);

  signals:
    void tapped();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
    QPointF pressPosition_;
    QPixmap image_;
    QPixmap scaled_;
    QString imageName_;
};

}  // namespace fm::screen
