// The saved screen's PNG, read back by Qt's own PNG reader.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/ScreenPng.h"

namespace {

// Every pixel comes back as drawn, channels in their places, with the picture's resolution; an
// odd width checks the row ends.
TEST(ScreenPng, EveryPixelReadsBackAsDrawn) {
    QImage image(37, 23, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb((x * 7) & 255, (y * 11) & 255, (x * y * 13 + 5) & 255));
        }
    }
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(36, 22, qRgb(0, 0, 255));
    image.setDotsPerMeterX(5669);
    image.setDotsPerMeterY(5669);
    const auto path = std::filesystem::temp_directory_path() /
                      ("fm-screen-png-" + std::to_string(::getpid()) + ".png");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::string why;
    EXPECT_TRUE(fm::app::writeScreenPng(image, file, &why)) << why;
    ASSERT_EQ(std::fclose(file), 0);

    const QImage back(QString::fromStdString(path.string()));
    std::filesystem::remove(path);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.size(), image.size());
    EXPECT_FALSE(back.hasAlphaChannel());
    EXPECT_EQ(back.dotsPerMeterX(), 5669);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(back.pixel(x, y), image.pixel(x, y)) << x << "," << y;
        }
    }
}

// A full disk is a failure with its reason, never a picture said to be saved.
TEST(ScreenPng, AFullDiskIsAFailureThatSaysSo) {
    QImage image(640, 960, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    std::FILE* file = std::fopen("/dev/full", "wb");
    ASSERT_NE(file, nullptr);
    std::string why;
    EXPECT_FALSE(fm::app::writeScreenPng(image, file, &why));
    std::fclose(file);
    EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
}

}  // namespace
