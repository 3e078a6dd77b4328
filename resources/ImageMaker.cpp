// Draws every image of the program at twice its size in points, at build time:
//   fieldmeter-images OUTPUT_DIR
// Nothing here is copied from elsewhere: shapes and text are painted with QPainter.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>

#include "resources/AboutText.h"
#include "resources/Palette.h"

namespace {

constexpr double kScale = 2.0;  // pixels per point
QString gSansFamily = "DejaVu Sans";
QString gDigitsFamily;

QFont sans(double points, int weight = QFont::Normal) {
    QFont f(gSansFamily);
    f.setPixelSize(static_cast<int>(std::lround(points)));  // painter is scaled to points
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

bool save(const QString& dir, const QString& name, const QImage& image) {
    if (!image.save(dir + "/" + name, "PNG")) {
        std::fprintf(stderr, "fieldmeter-images: cannot write %s/%s\n", qPrintable(dir),
                     qPrintable(name));
        return false;
    }
    return true;
}

// A transparent image of `w` x `h` points painted by `paint` in point coordinates.
QImage drawn(int w, int h, const std::function<void(QPainter&)>& paint,
             QColor fill = Qt::transparent) {
    QImage image(static_cast<int>(w * kScale), static_cast<int>(h * kScale),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(kScale, kScale);
    paint(p);
    p.end();
    return image;
}

void roundButtonBase(QPainter& p, QRectF r) {
    QRadialGradient g(r.center() - QPointF(0, r.height() * 0.2), r.width() * 0.7);
    g.setColorAt(0, fm::palette::panelRaised.lighter(140));
    g.setColorAt(1, fm::palette::panelRaised);
    p.setBrush(g);
    p.setPen(QPen(fm::palette::rim, 1.0));
    p.drawEllipse(r);
}

QImage recordOff() {
    return drawn(44, 44, [](QPainter& p) {
        roundButtonBase(p, QRectF(2, 2, 40, 40));
        p.setPen(QPen(fm::palette::recordRed.darker(130), 1.5));
        p.setBrush(fm::palette::recordRed.darker(160));
        p.drawEllipse(QPointF(22, 22), 11, 11);
        p.setPen(Qt::NoPen);
        p.setBrush(fm::palette::recordRed);
        p.drawEllipse(QPointF(22, 22), 8, 8);
    });
}

QImage recordOn() {
    return drawn(44, 44, [](QPainter& p) {
        QRadialGradient glow(QPointF(22, 22), 22);
        glow.setColorAt(0.55, QColor(255, 60, 60, 140));
        glow.setColorAt(1.0, QColor(255, 60, 60, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(QRectF(0, 0, 44, 44));
        QRadialGradient body(QPointF(19, 16), 24);
        body.setColorAt(0, fm::palette::recordRed.lighter(135));
        body.setColorAt(1, fm::palette::recordRed.darker(120));
        p.setBrush(body);
        p.setPen(QPen(QColor(255, 200, 200), 1.0));
        p.drawEllipse(QRectF(4, 4, 36, 36));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 235));
        p.drawRoundedRect(QRectF(16, 16, 12, 12), 2, 2);  // the stop square
    });
}

QImage mailButton() {
    return drawn(44, 44, [](QPainter& p) {
        roundButtonBase(p, QRectF(2, 2, 40, 40));
        p.setPen(QPen(fm::palette::text, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const QRectF env(12, 15, 20, 14);
        p.drawRoundedRect(env, 1.5, 1.5);
        QPainterPath flap;
        flap.moveTo(env.topLeft() + QPointF(0.5, 0.5));
        flap.lineTo(QPointF(22, 23.5));
        flap.lineTo(env.topRight() + QPointF(-0.5, 0.5));
        p.drawPath(flap);
    });
}

QImage infoButton() {
    return drawn(44, 44, [](QPainter& p) {
        roundButtonBase(p, QRectF(2, 2, 40, 40));
        p.setPen(Qt::NoPen);
        p.setBrush(fm::palette::accent);
        p.drawEllipse(QPointF(22, 14.5), 2.2, 2.2);
        p.drawRoundedRect(QRectF(20, 19, 4, 13), 1.5, 1.5);
    });
}

QImage closeButton() {
    return drawn(36, 36, [](QPainter& p) {
        p.setPen(QPen(fm::palette::rim, 1.0));
        p.setBrush(QColor(20, 24, 30, 230));
        p.drawEllipse(QRectF(2, 2, 32, 32));
        p.setPen(QPen(fm::palette::text, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12.5, 12.5), QPointF(23.5, 23.5));
        p.drawLine(QPointF(23.5, 12.5), QPointF(12.5, 23.5));
    });
}

// The caption over the top graph; the small arrows say that a tap switches it.
QImage caption(const QString& word) {
    return drawn(128, 18, [&](QPainter& p) {
        p.setPen(Qt::NoPen);
        // Opaque, so that the word reads as well over the colour page's white as over black.
        p.setBrush(fm::palette::panel);
        p.drawRoundedRect(QRectF(0.5, 0.5, 127, 17), 8.5, 8.5);
        p.setBrush(fm::palette::accent);
        p.drawEllipse(QPointF(10, 9), 3, 3);
        p.setPen(fm::palette::text);
        QFont f = sans(10, QFont::DemiBold);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
        p.setFont(f);
        p.drawText(QRectF(18, 0, 90, 18), Qt::AlignVCenter | Qt::AlignLeft, word);
        p.setPen(QPen(fm::palette::textDim, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(111, 6.5), QPointF(120, 6.5));
        p.drawLine(QPointF(117, 4), QPointF(120, 6.5));
        p.drawLine(QPointF(120, 11.5), QPointF(111, 11.5));
        p.drawLine(QPointF(114, 14), QPointF(111, 11.5));
    });
}

// Frames and scales laid over the two graphs: the top graph 0..96, the history 100..172.
// The history's caption is a label of the screen, drawn on a backdrop.
QImage graphOverlay() {
    return drawn(320, 172, [](QPainter& p) {
        auto frame = [&](QRectF r) {
            p.setPen(QPen(QColor(255, 255, 255, 40), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
            p.setPen(QPen(QColor(255, 255, 255, 22), 0.8, Qt::DotLine));
            for (int i = 1; i < 4; ++i) {
                const double y = r.top() + r.height() * i / 4.0;
                p.drawLine(QPointF(r.left() + 4, y), QPointF(r.right() - 4, y));
            }
            for (int i = 1; i < 8; ++i) {
                const double x = r.left() + r.width() * i / 8.0;
                p.drawLine(QPointF(x, r.top() + 4), QPointF(x, r.bottom() - 4));
            }
        };
        frame(QRectF(0, 0, 320, 96));
        frame(QRectF(0, 100, 320, 72));
    });
}

void paragraphBlock(QPainter& p, double x, double* y, double width, const QString& rawText,
                    const QFont& font, const QColor& color, double after) {
    // Option names must not break across lines at their dashes.
    QString text = rawText;
    text.replace("--", QString(2, QChar(0x2011)));
    p.setFont(font);
    p.setPen(color);
    const QRectF box(x, *y, width, 10000);
    const QRectF used = p.boundingRect(box, Qt::TextWordWrap | Qt::AlignLeft, text);
    p.drawText(box, Qt::TextWordWrap | Qt::AlignLeft, text);
    *y += used.height() + after;
}

void backgroundPanel(QPainter& p, double w, double h) {
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, fm::palette::panel.lighter(115));
    g.setColorAt(1, fm::palette::panel);
    p.fillRect(QRectF(0, 0, w, h), g);
}

void drawRingMark(QPainter& p, QPointF c, double r) {
    for (int i = 0; i < 36; ++i) {
        const double a = i * 10.0 * M_PI / 180.0;
        const double inner = (i % 9 == 0) ? r * 0.78 : r * 0.86;
        p.setPen(QPen(i % 9 == 0 ? fm::palette::accent : fm::palette::textDim, 1.4, Qt::SolidLine,
                      Qt::RoundCap));
        p.drawLine(c + QPointF(std::cos(a) * inner, std::sin(a) * inner),
                   c + QPointF(std::cos(a) * r, std::sin(a) * r));
    }
    p.setPen(QPen(fm::palette::amber, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(r * 0.55, -r * 0.55));
    p.setBrush(fm::palette::amber);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 3, 3);
}

// The cover shown at start; a tap slides it away. Drawn 568 points high so a tall screen is
// covered too; a 480-point screen shows its top.
QImage instructionsCover() {
    return drawn(320, 568, [](QPainter& p) {
        backgroundPanel(p, 320, 568);
        drawRingMark(p, QPointF(160, 120), 56);
        QFont title = sans(30, QFont::Bold);
        title.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
        p.setFont(title);
        p.setPen(fm::palette::text);
        p.drawText(QRectF(0, 192, 320, 40), Qt::AlignCenter, "fieldmeter");
        p.setFont(sans(12));
        p.setPen(fm::palette::textDim);
        p.drawText(QRectF(0, 230, 320, 20), Qt::AlignCenter, "the sound around you, as a field");
        double y = 272;
        const struct {
            const char* key;
            const char* text;
        } steps[] = {
            {"1", "Make a sound: the number and the graphs follow the level."},
            {"2", "Swipe left for the direction ring, again for the colour field."},
            {"3", "Tap the top graph to switch between waveform and spectrum."},
            {"4", "Press the red button to record; press it again to stop."},
        };
        for (const auto& s : steps) {
            p.setPen(Qt::NoPen);
            p.setBrush(fm::palette::accent);
            p.drawEllipse(QPointF(40, y + 10), 10, 10);
            p.setPen(fm::palette::panel);
            p.setFont(sans(11, QFont::Bold));
            p.drawText(QRectF(30, y, 20, 20), Qt::AlignCenter, s.key);
            double ty = y + 1;
            paragraphBlock(p, 60, &ty, 232, s.text, sans(11.5), fm::palette::text, 0);
            y = std::max(y + 40, ty + 12);
        }
        QFont tap = sans(12, QFont::DemiBold);
        tap.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
        p.setFont(tap);
        p.setPen(fm::palette::amber);
        p.drawText(QRectF(0, 440, 320, 24), Qt::AlignCenter, "TAP TO START");
    });
}

QImage aboutPage() {
    return drawn(320, 2752, [](QPainter& p) {
        backgroundPanel(p, 320, 2752);
        drawRingMark(p, QPointF(160, 78), 40);
        double y = 136;
        for (const auto& block : fm::about::blocks()) {
            switch (block.kind) {
                case fm::about::Kind::Title:
                    paragraphBlock(p, 24, &y, 272, block.text, sans(26, QFont::Bold),
                                   fm::palette::text, 6);
                    break;
                case fm::about::Kind::Heading: {
                    y += 16;
                    p.setPen(QPen(fm::palette::accent, 2.0));
                    p.drawLine(QPointF(24, y), QPointF(48, y));
                    y += 8;
                    QFont h = sans(14.5, QFont::Bold);
                    h.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
                    paragraphBlock(p, 24, &y, 272, block.text.toUpper(), h, fm::palette::accent, 8);
                    break;
                }
                case fm::about::Kind::Paragraph:
                    paragraphBlock(p, 24, &y, 272, block.text, sans(13.2), fm::palette::text, 12);
                    break;
                case fm::about::Kind::Item: {
                    p.setPen(Qt::NoPen);
                    p.setBrush(fm::palette::amber);
                    p.drawEllipse(QPointF(30, y + 8.5), 2.5, 2.5);
                    paragraphBlock(p, 40, &y, 256, block.text, sans(12.8), fm::palette::text, 7);
                    break;
                }
            }
        }
        p.setPen(fm::palette::textDim);
        p.setFont(sans(10));
        p.drawText(QRectF(0, 2752 - 40, 320, 20), Qt::AlignCenter,
                   QString::fromUtf8("close with \u00d7 or Escape"));
    });
}

// The program's icon: the direction ring over a dark tile.
QImage icon() {
    const int px = 256;
    QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(px / 64.0, px / 64.0);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, fm::palette::panelRaised.lighter(130));
    g.setColorAt(1, fm::palette::panel);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);
    const QPointF c(32, 32);
    for (int i = 0; i < 360; i += 6) {
        const double a = i * M_PI / 180.0;
        const double t = i / 360.0;
        QColor col = QColor::fromHsvF(0.55 - 0.55 * t, 0.75, 0.95);
        p.setPen(QPen(col, 3.2, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(c + QPointF(std::cos(a) * 15, std::sin(a) * 15),
                   c + QPointF(std::cos(a) * (19 + 5 * std::sin(a * 3) * std::sin(a * 3)),
                               std::sin(a) * (19 + 5 * std::sin(a * 3) * std::sin(a * 3))));
    }
    p.setPen(QPen(fm::palette::amber, 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(9, -9));
    p.setBrush(fm::palette::text);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 3, 3);
    p.end();
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fieldmeter-images OUTPUT_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "fieldmeter-images: cannot create %s\n", argv[1]);
        return 1;
    }
    const int id =
        QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    if (id >= 0) {
        gSansFamily = QFontDatabase::applicationFontFamilies(id).value(0, gSansFamily);
    }
    QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");

    bool ok = true;
    ok &= save(dir, "Record-off.png", recordOff());
    ok &= save(dir, "Record-on.png", recordOn());
    ok &= save(dir, "mailButton.png", mailButton());
    ok &= save(dir, "infoButton.png", infoButton());
    ok &= save(dir, "closeButton.png", closeButton());
    ok &= save(dir, "waveformtext.png", caption("WAVEFORM"));
    ok &= save(dir, "spectrumtext.png", caption("SPECTRUM"));
    ok &= save(dir, "graphOverlay.png", graphOverlay());
    ok &= save(dir, "instructionsCover.png", instructionsCover());
    ok &= save(dir, "instructionsInApp@2x.png", aboutPage());
    ok &= save(dir, "fieldmeter.png", icon());
    return ok ? 0 : 1;
}
