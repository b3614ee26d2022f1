#include "inffiles/windows_directory.h"

#include "platform/win.h"
#include "run/removal.h"

const char* GetWindowsDirectoryFor(char* directory, std::size_t tailLength) {
    const Win::UINT length = Win::GetWindowsDirectoryA(directory, Win::MAX_PATH);
    if (length == 0) {
        ReportFailure("GetWindowsDirectory()");
        return nullptr;
    }
    // A directory that did not fit its own buffer comes back as the size it needs.
    if (length >= Win::MAX_PATH || length + 1 + tailLength + 1 > 256) {
        Win::SetLastError(Win::ERROR_INSUFFICIENT_BUFFER);
        ReportFailure("GetWindowsDirectory()");
        return nullptr;
    }
    const bool root = length == 3 && directory[1] == ':' && directory[2] == '\\';
    return root ? "" : "\\";
}
