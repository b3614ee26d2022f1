// The Windows operations the uninstaller uses, and nothing more.
//
// The removal code calls Windows only through this header. The Windows build links
// win32/win_win32.cpp, which forwards to the real ANSI calls; the host build links
// sim/, a simulated machine that tests arrange and inspect. The names,
// argument orders and results are those of the Win32 calls they stand for, so the
// removal code reads as Win32 code; the types are declared here because <windows.h>
// cannot be included on the host.
#ifndef KALVOR_PLATFORM_WIN_H
#define KALVOR_PLATFORM_WIN_H

#include <cstddef>
#include <cstdint>

namespace Win {

typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef int BOOL;
typedef std::uint32_t UINT;
typedef unsigned char BYTE;
typedef void* HANDLE;
typedef void* HDEVINFO;
typedef void* HLOCAL;
typedef struct HKEY__* HKEY;
typedef struct HWND__* HWND;
typedef struct FILE_ FILE;

const BOOL TRUE = 1;
const BOOL FALSE = 0;

HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002)));

const DWORD MAX_PATH = 260;

const DWORD ERROR_SUCCESS = 0;
const DWORD ERROR_FILE_NOT_FOUND = 2;
const DWORD ERROR_PATH_NOT_FOUND = 3;
const DWORD ERROR_ACCESS_DENIED = 5;
const DWORD ERROR_INVALID_HANDLE = 6;
const DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
const DWORD ERROR_INVALID_DATA = 13;
const DWORD ERROR_INVALID_PARAMETER = 87;
const DWORD ERROR_INSUFFICIENT_BUFFER = 122;
const DWORD ERROR_MORE_DATA = 234;
const DWORD ERROR_NO_MORE_ITEMS = 259;
const DWORD ERROR_KEY_DELETED = 1018;
const DWORD ERROR_INVALID_USER_BUFFER = 1784;

// GetVersionExA
const DWORD VER_PLATFORM_WIN32s = 0;
const DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
const DWORD VER_PLATFORM_WIN32_NT = 2;
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");
BOOL GetVersionExA(OSVERSIONINFOA* info);

// Console and runtime library. WriteStdout writes the whole text to standard output and
// flushes it before returning, so a line stands on the console while a box is shown; it
// returns the count of bytes written, or a negative value.
int WriteStdout(const char* text);
int _getch();
[[noreturn]] void exit(int status);

// Message boxes
const UINT MB_OK = 0x00000000;
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// Last-error value and system message texts
DWORD GetLastError();
void SetLastError(DWORD code);
const DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
const DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
const DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
const DWORD LANG_NEUTRAL_SUBLANG_DEFAULT = 0x0400;  // MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, buffer is really a char** that receives a block
// to be released with LocalFree, as in Win32.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments);

// Local heap
const UINT LMEM_ZEROINIT = 0x0040;
HLOCAL LocalAlloc(UINT flags, std::size_t bytes);
HLOCAL LocalFree(HLOCAL block);

// Setup API
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    unsigned char Data4[8];
};
struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    std::uintptr_t Reserved;
};
const DWORD DIGCF_PRESENT = 0x00000002;
const DWORD DIGCF_ALLCLASSES = 0x00000004;
const DWORD SPDRP_HARDWAREID = 0x00000001;
const DWORD DIF_REMOVE = 0x00000005;
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND parent,
                              DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* device);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* buffer,
                                       DWORD bufferSize, DWORD* requiredSize);
BOOL SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, SP_DEVINFO_DATA* device);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

// Registry
const DWORD KEY_ALL_ACCESS = 0x000F003F;
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegDeleteKeyA(HKEY key, const char* subKey);
LONG RegCloseKey(HKEY key);

// Files
const DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
const DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[260];
    char cAlternateFileName[14];
};
UINT GetWindowsDirectoryA(char* buffer, UINT size);
HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData);
BOOL FindClose(HANDLE search);
BOOL SetFileAttributesA(const char* fileName, DWORD attributes);
BOOL DeleteFileA(const char* fileName);

// Formatting, as the C runtime's snprintf: the whole text's length is returned, and a cut
// text is still terminated. Only %s, %d and %x (with a 0 flag and width) and %% are known;
// any other conversion gives -1.
int snprintf(char* buffer, std::size_t size, const char* format, ...);

// Buffered file reading, as the C runtime's fopen, fgets, feof and fclose.
FILE* fopen(const char* path, const char* mode);
char* fgets(char* buffer, int size, FILE* file);
int feof(FILE* file);
int fclose(FILE* file);

}  // namespace Win

#endif
