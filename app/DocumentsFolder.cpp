#include "app/DocumentsFolder.h"

#include <string>

#include "platform/documents/DocumentsFolder.h"

namespace fm::app {

QString documentsFolder() {
    return QString::fromStdString(fm::platform::documentsFolder());
}

QString documentsPath(const QString& name) {
    QString folder = documentsFolder();
    if (name.isEmpty()) {
        return folder;
    }
    QString component = name;
    while (component.startsWith('/')) {
        component.remove(0, 1);
    }
    return folder == "/" ? folder + component : folder + '/' + component;
}

bool ensureDocumentsFolder(QString* error) {
    std::string reason;
    const bool ok = fm::platform::ensureDocumentsFolder(&reason);
    if (!ok && error != nullptr) {
        *error = QString::fromStdString(reason);
    }
    return ok;
}

}  // namespace fm::app
