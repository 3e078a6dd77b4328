#pragma once
// Images by file name from the program's resources (imageNamed:).
//
// A name is looked up in each resources folder in turn: the folder set with
// setResourcesFolder() (or $FM_RESOURCES_DIR), the Qt resource folder
// ":/resources", the installed share/fieldmeter/resources beside
// the program, then the build and source trees' resources/ folders. For "name.png" a
// "name@2x.png" is preferred when present. Our images are drawn at twice their size in points,
// so an image without an "@Nx" suffix counts as @2x unless setDefaultImageScale() says otherwise.
// A missing image gives a null pixmap (and one line on standard error), never a crash.
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace fm::toolkit {

QPixmap imageNamed(const QString& name);

// The folder searched first; an empty path removes it.
void setResourcesFolder(const QString& path);
// Every folder searched, in order.
QStringList resourceFolders();

// Device pixels per point of an image whose name has no "@Nx" suffix (2 by default).
void setDefaultImageScale(double scale);

}  // namespace fm::toolkit
