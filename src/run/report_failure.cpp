#include "platform/win.h"
#include "run/cp932.h"
#include "run/removal.h"
#include "run/texts.h"

int FailuresReported = 0;

namespace {

// A text cut by snprintf may end on the first byte of a double-byte character, which would
// make the box show a broken character; drop that byte.
void EndOnCharacterBoundary(char* text) {
    std::size_t i = 0;
    while (text[i] != '\0') {
        if (IsLeadByte(static_cast<unsigned char>(text[i]))) {
            if (text[i + 1] == '\0') {
                text[i] = '\0';
                break;
            }
            i += 2;
        } else {
            i += 1;
        }
    }
}

}  // namespace

int ReportFailure(const char* label) {
    const Win::DWORD code = Win::GetLastError();

    // Some system texts hold inserts ("%1 is not a valid Win32 application."); formatted
    // without arguments they would read arguments that were never passed, so they are
    // shown as they stand.
    char* systemText = nullptr;
    const Win::DWORD length = Win::FormatMessageA(
        Win::FORMAT_MESSAGE_ALLOCATE_BUFFER | Win::FORMAT_MESSAGE_IGNORE_INSERTS |
            Win::FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, Win::LANG_NEUTRAL_SUBLANG_DEFAULT, reinterpret_cast<char*>(&systemText), 0,
        nullptr);
    if (length == 0) systemText = nullptr;

    char text[256];
    int needed;
    if (systemText) {
        needed = Win::snprintf(text, sizeof text, "%s FAILURE: (0x%08x)%s\n", label,
                               static_cast<unsigned>(code), systemText);
    } else {
        needed = Win::snprintf(text, sizeof text, "%s FAILURE: (0x%08x)\n", label,
                               static_cast<unsigned>(code));
    }
    if (needed < 0) text[0] = '\0';
    if (needed >= static_cast<int>(sizeof text)) EndOnCharacterBoundary(text);

    ++FailuresReported;
    Win::MessageBoxA(nullptr, text, BoxCaption, Win::MB_OK);

    if (systemText) Win::LocalFree(systemText);
    Win::SetLastError(code);
    return 0;
}
