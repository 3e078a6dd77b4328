#pragma once
// The documents folder as the rest of the program asks for it (NSSearchPathForDirectories...
// and stringByAppendingPathComponent:), on top of platform/documents.
#include <QString>

namespace fm::app {

// The folder's path, without a trailing slash.
QString documentsFolder();

// The full path of `name` inside the documents folder.
QString documentsPath(const QString& name);

// Creates the folder when missing. On failure returns false and puts "<path>: <reason>" in
// *error.
bool ensureDocumentsFolder(QString* error);

}  // namespace fm::app
