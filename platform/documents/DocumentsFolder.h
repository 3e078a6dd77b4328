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
// Opens one of the program's own output files in the folder for reading and writing, emptied.
// Never writes through a link: a symbolic link at `path` is removed (its target is left as it
// is, and one line on standard error says so) and a new file made in its place. Anything else
// that is not a regular file (a FIFO, a device, a folder) is refused. Returns the descriptor,
// or -1 with "<system's reason>" in *error.
int openOwnOutputFile(const std::string& path, std::string* error);

// Holds the folder for this process, so that a second program on the same folder cannot
// replace the first one's recording. On failure returns false with the reason in *error; when
// another process holds the folder, *holder is its process id (-1 when it cannot be told), else
// 0. The lock ends with the process.
bool lockDocumentsFolder(std::string* error, long* holder);

}  // namespace fm::platform
