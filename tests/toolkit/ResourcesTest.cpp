// Images and fonts by name.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QImage>
#include <QTemporaryDir>

#include "toolkit/Fonts.h"
#include "toolkit/Images.h"

namespace {

void writeImage(const QString& path, int w, int h, QColor color) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(path));
}

}  // namespace

TEST(Images, FoundByFileNameAtTheirScale) {
    QTemporaryDir tmp;
    fm::toolkit::setResourcesFolder(tmp.path());
    writeImage(tmp.path() + "/plain.png", 40, 20, Qt::red);
    writeImage(tmp.path() + "/both.png", 10, 10, Qt::green);
    writeImage(tmp.path() + "/both@2x.png", 20, 20, Qt::blue);
    writeImage(tmp.path() + "/instructions@2x.png", 64, 550, Qt::white);
    writeImage(tmp.path() + "/one@1x.png", 8, 8, Qt::white);

    const QPixmap plain = fm::toolkit::imageNamed("plain.png");
    ASSERT_FALSE(plain.isNull());
    EXPECT_EQ(plain.size(), QSize(40, 20));
    EXPECT_EQ(plain.devicePixelRatio(), 2.0);  // drawn at twice its size in points
    EXPECT_EQ(plain.deviceIndependentSize(), QSizeF(20, 10));
    EXPECT_EQ(plain.toImage().pixelColor(0, 0), QColor(Qt::red));

    const QPixmap both = fm::toolkit::imageNamed("both.png");
    EXPECT_EQ(both.toImage().pixelColor(0, 0), QColor(Qt::blue));  // the @2x file is preferred
    EXPECT_EQ(both.deviceIndependentSize(), QSizeF(10, 10));

    const QPixmap named = fm::toolkit::imageNamed("instructions@2x.png");
    EXPECT_EQ(named.deviceIndependentSize(), QSizeF(32, 275));
    EXPECT_EQ(fm::toolkit::imageNamed("one@1x.png").devicePixelRatio(), 1.0);

    fm::toolkit::setDefaultImageScale(1.0);
    EXPECT_EQ(fm::toolkit::imageNamed("plain.png").deviceIndependentSize(), QSizeF(40, 20));
    fm::toolkit::setDefaultImageScale(2.0);
    fm::toolkit::setResourcesFolder({});
}

TEST(Images, MissingOrBrokenGivesNoImage) {
    QTemporaryDir tmp;
    fm::toolkit::setResourcesFolder(tmp.path());
    QFile broken(tmp.path() + "/broken.png");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a png at all");
    broken.close();
    writeImage(tmp.path() + "/../outside.png", 4, 4, Qt::red);

    EXPECT_TRUE(fm::toolkit::imageNamed("nothing-here.png").isNull());
    EXPECT_TRUE(fm::toolkit::imageNamed("nothing-here.png").isNull());  // asked again: still fine
    EXPECT_TRUE(fm::toolkit::imageNamed("broken.png").isNull());
    EXPECT_TRUE(fm::toolkit::imageNamed("").isNull());
    EXPECT_TRUE(fm::toolkit::imageNamed("../outside.png").isNull());  // stays inside the folders
    EXPECT_EQ(fm::toolkit::resourceFolders().first(), tmp.path());
    fm::toolkit::setResourcesFolder({});
    QFile::remove(tmp.path() + "/../outside.png");
}

TEST(Fonts, DigitalReadOutIsDseg7AtItsSizeInPoints) {
    const QFont font = fm::toolkit::fontWithName("LetsgoDigital-Regular", 52.0);
    EXPECT_TRUE(font.family().contains("DSEG7")) << font.family().toStdString();
    EXPECT_EQ(QFontInfo(font).family(), font.family());  // really loaded, not substituted
    EXPECT_EQ(font.pixelSize(), 52);

    const QFont again = fm::toolkit::fontWithName("LetsgoDigital-Regular", 12.4);
    EXPECT_EQ(again.family(), font.family());
    EXPECT_EQ(again.pixelSize(), 12);

    fm::toolkit::setFontFile("Missing-Font", "/nonexistent/font.ttf");
    const QFont fallback = fm::toolkit::fontWithName("Missing-Font", 20.0);
    EXPECT_FALSE(fallback.family().isEmpty());
    EXPECT_EQ(fallback.pixelSize(), 20);
}
