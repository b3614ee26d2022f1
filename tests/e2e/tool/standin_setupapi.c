/* A setupapi.dll that loads but lacks SetupDiDestroyDeviceInfoList, and whose loading
   starts a thread that never ends, as a DLL's worker thread may. The program has to take
   the missing function for a Setup API it cannot use, and still end with its status.
   Loading it also writes the current folder of that moment to CURRENT_FOLDER_RECORD:
   the real Setup API loads DLLs by bare name in turn, which may come from there. */
#include <windows.h>

#define CURRENT_FOLDER_RECORD "C:\\standin-setupapi-folder.txt"

static void RecordCurrentFolder(void) {
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder), written;
    HANDLE file = CreateFileA(CURRENT_FOLDER_RECORD, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteFile(file, folder, length < MAX_PATH ? length : 0, &written, NULL);
    CloseHandle(file);
}

static DWORD WINAPI WaitForEver(void* unused) {
    for (;;) Sleep(INFINITE);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        RecordCurrentFolder();
        CloseHandle(CreateThread(NULL, 0, WaitForEver, NULL, 0, NULL));
    }
    return TRUE;
}

/* An empty device set: a program that went on past the missing function calls it next. */
__declspec(dllexport) HANDLE WINAPI SetupDiGetClassDevsA(const GUID* c, const char* e, HWND w,
                                                         DWORD f) {
    return (HANDLE)1;
}

__declspec(dllexport) BOOL WINAPI SetupDiEnumDeviceInfo(HANDLE set, DWORD index, void* device) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HANDLE set, void* device,
                                                                    DWORD property, DWORD* type,
                                                                    BYTE* buffer, DWORD size,
                                                                    DWORD* required) {
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI SetupDiCallClassInstaller(DWORD function, HANDLE set,
                                                            void* device) {
    return FALSE;
}
