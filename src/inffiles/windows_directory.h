#ifndef KALVOR_INFFILES_WINDOWS_DIRECTORY_H
#define KALVOR_INFFILES_WINDOWS_DIRECTORY_H

#include <cstddef>

// Reads the Windows directory (into MAX_PATH bytes) for composing paths
// <directory><separator><tail> in a 256-byte buffer, with tails of at most tailLength bytes.
// Returns the separator: "" after a root directory ("C:\"), which ends in a backslash
// already, and "\" otherwise. When the directory cannot be read, or such a path would not
// fit, reports "GetWindowsDirectory()" and returns null: a path cut short to fit could name
// some other file, which must never be opened or deleted.
const char* GetWindowsDirectoryFor(char* directory, std::size_t tailLength);

#endif
