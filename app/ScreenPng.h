#pragma once
// Encodes the saved screen as PNG, fast enough to do every second without being felt: rows go
// to libpng as they are drawn (four bytes a pixel, the fourth dropped) and are stored without
// a per-row filter, which at zlib's fastest level makes a smaller file of a flat-coloured
// screen in less than half the time of libpng's filter search (what QImage::save does).
#include <QImage>
#include <cstdio>
#include <string>

namespace fm::app {

// Writes `image` (Format_RGB32) to `file` as an 8-bit RGB PNG with the image's resolution.
// On failure returns false with the reason in `why`; the file is then incomplete.
bool writeScreenPng(const QImage& image, std::FILE* file, std::string* why);

}  // namespace fm::app
