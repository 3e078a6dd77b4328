#include "toolkit/Fonts.h"

#include <QFontDatabase>
#include <QHash>
#include <QStringList>
#include <cmath>
#include <cstdio>

namespace fm::toolkit {
namespace {

QHash<QString, QString>& fontFiles() {
    static QHash<QString, QString> files{
        {QString::fromLatin1(kDigitalFontName),
         QStringLiteral("/usr/share/fonts/truetype/dseg/DSEG7Classic-Regular.ttf")},
    };
    return files;
}

// Family loaded from each file, so a file is added to the database once.
QHash<QString, QString>& loadedFamilies() {
    static QHash<QString, QString> families;
    return families;
}

QString familyFor(const QString& name) {
    const auto file = fontFiles().constFind(name);
    if (file == fontFiles().constEnd()) {
        return name;
    }
    if (const auto known = loadedFamilies().constFind(*file);
        known != loadedFamilies().constEnd()) {
        return *known;
    }
    QString family;
    const int id = QFontDatabase::addApplicationFont(*file);
    const QStringList families =
        id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList{};
    if (families.isEmpty()) {
        std::fprintf(stderr, "font %s: cannot load %s; using the default font\n", qPrintable(name),
                     qPrintable(*file));
    } else {
        family = families.first();
    }
    loadedFamilies().insert(*file, family);
    return family;
}

}  // namespace

void setFontFile(const QString& name, const QString& path) {
    fontFiles().insert(name, path);
}

QFont fontWithName(const QString& name, double size) {
    QFont font;
    const QString family = familyFor(name);
    if (!family.isEmpty()) {
        font.setFamily(family);
    }
    // Points of the screen are logical pixels, whatever the display's DPI.
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    return font;
}

}  // namespace fm::toolkit
