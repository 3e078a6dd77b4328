#pragma once
// The folder that holds the recordings and exports: ~/Documents/fieldmeter unless the
// program was told another one (--documents DIR).
#include <string>

namespace fm::platform {

// Replaces the default folder; called once at start, before any file is written.
void setDocumentsFolder(const std::string& path);

// The folder's path, without a trailing slash. Never empty.
std::string documentsFolder();

// Creates the folder (and its parents) when missing and checks that it is writable.
// On failure returns false and puts "<path>: <system's reason>" into *error.
bool ensureDocumentsFolder(std::string* error);

// The same check for the program's own uses of the folder (engine start, motion files, the
// saved screen), which say on standard error what is wrong with it: once when it becomes
// unusable, and again only when that changes (another reason, or usable again). On failure
// puts "<path>: <system's reason>" into *error when given.
bool ensureDocumentsFolderReporting(std::string* error = nullptr);

}  // namespace fm::platform
