#pragma once
// A label drawn on a dark backdrop, so that its text stays readable over whatever lies under
// it (the colour page runs from black to white). The backdrop is the screen's own dark panel
// colour: where the label sits on that panel it cannot be seen. It hugs the text, or fills the
// whole label (hugsText false) for a text that changes width as it runs, like the level.
#include <QLabel>

namespace fm::screen {

class BackdropLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool hugsText READ hugsText WRITE setHugsText)

  public:
    explicit BackdropLabel(QWidget* parent = nullptr);

    bool hugsText() const { return hugsText_; }
    void setHugsText(bool on);
    // Where the backdrop lies, in the label's coordinates; empty for an empty text that hugs.
    QRect backdropRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool hugsText_ = true;
};

}  // namespace fm::screen
