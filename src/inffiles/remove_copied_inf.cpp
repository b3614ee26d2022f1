#include <cstdio>

#include "platform/win.h"
#include "run/removal.h"

int RemoveCopiedInf(const char* copyName) {
    char windowsDirectory[Win::MAX_PATH];
    const Win::UINT length = Win::GetWindowsDirectoryA(windowsDirectory, Win::MAX_PATH);
    if (length == 0) {
        ReportFailure("GetWindowsDirectory()");
        return 1;
    }

    // Too long a directory comes back as the size it needs, and the buffer then holds
    // nothing usable; a cut copy path would name some other file. Neither is ever used.
    char copyPath[256];
    int composed = -1;
    if (length < Win::MAX_PATH) {
        // A root directory ("C:\") is the one form that ends in a backslash already.
        const bool root = length == 3 && windowsDirectory[1] == ':' && windowsDirectory[2] == '\\';
        composed = std::snprintf(copyPath, sizeof copyPath,
                                 root ? "%sinf\\other\\%s" : "%s\\inf\\other\\%s",
                                 windowsDirectory, copyName);
    }
    if (composed < 0 || composed >= static_cast<int>(sizeof copyPath)) {
        Win::SetLastError(Win::ERROR_INSUFFICIENT_BUFFER);
        ReportFailure("GetWindowsDirectory()");
        return 1;
    }

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
