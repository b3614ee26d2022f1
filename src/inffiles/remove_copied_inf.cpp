#include <cstring>

#include "inffiles/windows_directory.h"
#include "platform/win.h"
#include "run/removal.h"

int RemoveCopiedInf(const char* copyName) {
    const char otherDirectory[] = "inf\\other\\";
    char windowsDirectory[Win::MAX_PATH];
    const char* const separator = GetWindowsDirectoryFor(
        windowsDirectory, sizeof otherDirectory - 1 + std::strlen(copyName));
    if (!separator) return 1;

    char copyPath[256];
    const int composed = Win::snprintf(copyPath, sizeof copyPath, "%s%s%s%s", windowsDirectory,
                                       separator, otherDirectory, copyName);
    if (composed < 0 || composed >= static_cast<int>(sizeof copyPath)) return 1;

    Win::WIN32_FIND_DATAA found;
    Win::HANDLE search = Win::FindFirstFileA(copyPath, &found);
    if (search == Win::INVALID_HANDLE_VALUE) return 1;

    // A read-only file cannot be deleted.
    if (found.dwFileAttributes & Win::FILE_ATTRIBUTE_READONLY) {
        if (!Win::SetFileAttributesA(copyPath, Win::FILE_ATTRIBUTE_ARCHIVE)) {
            ReportFailure("SetFileAttributes()");
        }
    }
    Win::FindClose(search);

    if (!Win::DeleteFileA(copyPath)) ReportFailure("DeleteFile(inf)");
    return 0;
}
