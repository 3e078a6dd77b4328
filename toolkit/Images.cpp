#include "toolkit/Images.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <cstdio>

namespace fm::toolkit {
namespace {

QString& firstFolder() {
    static QString folder = qEnvironmentVariable("FM_RESOURCES_DIR");
    return folder;
}

double& defaultScale() {
    static double scale = 2.0;
    return scale;
}

// The "@Nx" scale a file name carries, or 0 when it has none.
double scaleInName(const QString& fileName) {
    static const QRegularExpression suffix(QStringLiteral("@([0-9]+(?:\\.[0-9]+)?)x(\\.[^.]*)?$"));
    const QRegularExpressionMatch m = suffix.match(fileName);
    return m.hasMatch() ? m.captured(1).toDouble() : 0.0;
}

// "name.png" -> "name@2x.png"; names that already carry a scale get no variant.
QString retinaVariant(const QString& name) {
    if (scaleInName(name) > 0.0) {
        return {};
    }
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? name + "@2x" : name.left(dot) + "@2x" + name.mid(dot);
}

}  // namespace

void setResourcesFolder(const QString& path) {
    firstFolder() = path;
}

void setDefaultImageScale(double scale) {
    defaultScale() = scale > 0.0 ? scale : 1.0;
}

QStringList resourceFolders() {
    QStringList folders;
    if (!firstFolder().isEmpty()) {
        folders << firstFolder();
    }
    folders << QStringLiteral(":/resources");  // compiled in, when the program embeds them
    if (QCoreApplication::instance() != nullptr) {
        const QString appDir = QCoreApplication::applicationDirPath();
        folders << QDir::cleanPath(appDir + "/../share/fieldmeter/resources");
        folders << QDir::cleanPath(appDir + "/../resources");
    }
#ifdef FM_BINARY_DIR
    folders << QStringLiteral(FM_BINARY_DIR "/resources");
#endif
#ifdef FM_SOURCE_DIR
    folders << QStringLiteral(FM_SOURCE_DIR "/resources");
#endif
    folders.removeDuplicates();
    return folders;
}

QPixmap imageNamed(const QString& name) {
    if (name.isEmpty() || name.contains("..")) {
        return {};
    }
    const QString variant = retinaVariant(name);
    for (const QString& folder : resourceFolders()) {
        for (const QString& candidate : {variant, name}) {
            if (candidate.isEmpty()) {
                continue;
            }
            const QString path = folder + '/' + candidate;
            if (!QFileInfo(path).isFile()) {
                continue;
            }
            QPixmap pixmap(path);
            if (pixmap.isNull()) {
                std::fprintf(stderr, "image %s: cannot be read as an image\n", qPrintable(path));
                continue;
            }
            const double named = scaleInName(candidate);
            pixmap.setDevicePixelRatio(named > 0.0 ? named : defaultScale());
            return pixmap;
        }
    }
    // Said once per name: the screen asks again at every caption switch.
    static QHash<QString, bool> reported;
    if (!reported.contains(name)) {
        reported.insert(name, true);
        std::fprintf(stderr, "image %s: not found in %s\n", qPrintable(name),
                     qPrintable(resourceFolders().join(", ")));
    }
    return {};
}

}  // namespace fm::toolkit
