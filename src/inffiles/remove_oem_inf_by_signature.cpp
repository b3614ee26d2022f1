#include <cstring>

#include "inffiles/windows_directory.h"
#include "platform/win.h"
#include "run/removal.h"

namespace {

const int FirstCandidate = 0;
const int LastCandidate = 254;

// The longest tail after the Windows directory and its separator.
const char LongestCandidateTail[] = "inf\\oem254.inf";

}  // namespace

int RemoveOemInfBySignature(const char* signature) {
    char windowsDirectory[Win::MAX_PATH];
    char path[256];

    const char* const separator =
        GetWindowsDirectoryFor(windowsDirectory, sizeof LongestCandidateTail - 1);
    if (!separator) return 1;

    const std::size_t signatureLength = std::strlen(signature);
    bool found = false;
    int pathLength = 0;
    for (int number = FirstCandidate; number <= LastCandidate && !found; ++number) {
        pathLength = Win::snprintf(path, sizeof path, "%s%sinf\\oem%d.inf", windowsDirectory,
                                   separator, number);
        Win::FILE* file = Win::fopen(path, "rb");
        if (!file) continue;  // a missing number does not end the search

        char line[128];
        while (!Win::feof(file)) {
            std::memset(line, 0, sizeof line);
            // A longer line comes in pieces, and each piece is tested as a line of its own.
            if (!Win::fgets(line, 80, file)) break;
            if (std::strncmp(line, signature, signatureLength) == 0) {
                found = true;
                break;
            }
        }
        // Closed before anything is deleted: the runtime's stream does not share delete access.
        Win::fclose(file);
    }
    if (!found) return 1;

    Win::WIN32_FIND_DATAA findData;
    Win::HANDLE search = Win::FindFirstFileA(path, &findData);
    if (search == Win::INVALID_HANDLE_VALUE) {
        ReportFailure("FindFirstFile()");
    } else if (findData.dwFileAttributes & Win::FILE_ATTRIBUTE_READONLY) {
        if (!Win::SetFileAttributesA(path, Win::FILE_ATTRIBUTE_ARCHIVE)) {
            ReportFailure("SetFileAttributes()");
        }
    }

    if (!Win::DeleteFileA(path)) ReportFailure("DeleteFile(inf)");

    // oemN.inf becomes oemN.pnf in the same directory.
    std::memcpy(path + pathLength - 3, "pnf", 3);
    if (search != Win::INVALID_HANDLE_VALUE) Win::FindClose(search);

    // The PNF keeps its attributes: a read-only one is reported, not forced.
    if (!Win::DeleteFileA(path)) ReportFailure("DeleteFile(pnf)");
    return 0;
}
