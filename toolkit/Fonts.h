#pragma once
// Fonts by name and size (fontWithName:size:). "LetsgoDigital-Regular", the seven-segment
// read-out font, is DSEG7 Classic from fonts-dseg, loaded into the program on first use; any
// other name is taken as a font family. Sizes are in points (the screen's logical pixels).
// A font file that cannot be loaded leaves the default font, with one line on standard error.
#include <QFont>
#include <QString>

namespace fm::toolkit {

QFont fontWithName(const QString& name, double size);

// The font file behind a name (for tests and other installs); replaces the built-in mapping.
void setFontFile(const QString& name, const QString& path);

inline constexpr const char* kDigitalFontName = "LetsgoDigital-Regular";

}  // namespace fm::toolkit
