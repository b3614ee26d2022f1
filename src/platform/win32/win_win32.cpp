// The real Windows behind win.h: each call forwards to its Win32 ANSI namesake.
//
// win.h comes first: <windows.h> turns many of its constant names into macros, so this
// file refers to Windows' own constants and never to the Win:: ones.
#include "platform/win.h"

#include <conio.h>
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

static_assert(sizeof(Win::OSVERSIONINFOA) == sizeof(::OSVERSIONINFOA), "OSVERSIONINFOA");
static_assert(sizeof(Win::WIN32_FIND_DATAA) == sizeof(::WIN32_FIND_DATAA), "WIN32_FIND_DATAA");
static_assert(sizeof(Win::DWORD) == sizeof(::DWORD), "DWORD");
static_assert(sizeof(Win::GUID) == sizeof(::GUID), "GUID");
// The Setup API writes this record; its layout must be the SDK's to the byte.
static_assert(sizeof(Win::SP_DEVINFO_DATA) == sizeof(::SP_DEVINFO_DATA), "SP_DEVINFO_DATA");
static_assert(sizeof(::SP_DEVINFO_DATA) == (sizeof(void*) == 4 ? 28 : 32),
              "SP_DEVINFO_DATA: 28 bytes in the 32-bit program, 32 in the 64-bit one");
static_assert(offsetof(Win::SP_DEVINFO_DATA, Reserved) == 24 &&
                  offsetof(::SP_DEVINFO_DATA, Reserved) == 24,
              "SP_DEVINFO_DATA::Reserved");

namespace {

// The Setup API's device functions are looked up at run time rather than imported, so that
// the program still starts on a Windows 98/ME whose setupapi.dll does not have them. A
// pointer whose type differs from the SDK's declaration, in its calling convention above
// all, would call with the wrong stack in the 32-bit program; the compiler checks them.
typedef HDEVINFO(WINAPI* GetClassDevsFunction)(const ::GUID*, PCSTR, ::HWND, DWORD);
typedef BOOL(WINAPI* EnumDeviceInfoFunction)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* GetDeviceRegistryPropertyFunction)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD,
                                                        PBYTE, DWORD, PDWORD);
typedef BOOL(WINAPI* CallClassInstallerFunction)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* DestroyDeviceInfoListFunction)(HDEVINFO);
static_assert(std::is_same<GetClassDevsFunction, decltype(&::SetupDiGetClassDevsA)>::value,
              "SetupDiGetClassDevsA");
static_assert(std::is_same<EnumDeviceInfoFunction, decltype(&::SetupDiEnumDeviceInfo)>::value,
              "SetupDiEnumDeviceInfo");
static_assert(std::is_same<GetDeviceRegistryPropertyFunction,
                           decltype(&::SetupDiGetDeviceRegistryPropertyA)>::value,
              "SetupDiGetDeviceRegistryPropertyA");
static_assert(std::is_same<CallClassInstallerFunction,
                           decltype(&::SetupDiCallClassInstaller)>::value,
              "SetupDiCallClassInstaller");
static_assert(std::is_same<DestroyDeviceInfoListFunction,
                           decltype(&::SetupDiDestroyDeviceInfoList)>::value,
              "SetupDiDestroyDeviceInfoList");

struct SetupDi {
    bool resolved;
    DWORD loadError;
    GetClassDevsFunction GetClassDevsA;
    EnumDeviceInfoFunction EnumDeviceInfo;
    GetDeviceRegistryPropertyFunction GetDeviceRegistryPropertyA;
    CallClassInstallerFunction CallClassInstaller;
    DestroyDeviceInfoListFunction DestroyDeviceInfoList;
};

SetupDi setupDi;

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return function != nullptr;
}

// With <program>.local beside it, a file or a folder, Windows 2000 (and XP for a program
// without a manifest) takes a DLL from the program's folder even for a full path, and on
// XP <program>.manifest may bind DLL names to files there. While either is there the Setup
// API is not loaded: the error code says why, or what kept the check from being made.
DWORD RedirectionRefused() {
    static const char* const suffixes[] = {".local", ".manifest"};
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0) return ::GetLastError();
    for (const char* suffix : suffixes) {
        const std::size_t size = std::strlen(suffix) + 1;
        if (length + size > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
        std::memcpy(path + length, suffix, size);
        if (::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return ERROR_ACCESS_DENIED;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
    }
    return ERROR_SUCCESS;
}

// The Setup API comes from the system folder alone. setupapi.dll is no KnownDLL, so a bare
// name would take whatever file of that name lies beside the program, in a download folder,
// say, and run it with an administrator's rights. With the altered search path the DLLs it
// needs in turn are also sought in the system folder first, not beside the program; and as
// it loads class installers by bare name, which 2000 and XP before SP2 seek in the current
// folder first, the system folder is made current.
HMODULE LoadSystemSetupApi() {
    static const char name[] = "\\setupapi.dll";
    char path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0) return nullptr;
    if (length + sizeof name > MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    if (!::SetCurrentDirectoryA(path)) return nullptr;
    const DWORD refused = RedirectionRefused();
    if (refused != ERROR_SUCCESS) {
        ::SetLastError(refused);
        return nullptr;
    }
    std::memcpy(path + length, name, sizeof name);
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool SetupDiAvailable() {
    if (!setupDi.resolved) {
        setupDi.resolved = true;
        HMODULE module = LoadSystemSetupApi();
        bool all = module != nullptr && Resolve(module, "SetupDiGetClassDevsA", setupDi.GetClassDevsA) &&
                   Resolve(module, "SetupDiEnumDeviceInfo", setupDi.EnumDeviceInfo) &&
                   Resolve(module, "SetupDiGetDeviceRegistryPropertyA",
                           setupDi.GetDeviceRegistryPropertyA) &&
                   Resolve(module, "SetupDiCallClassInstaller", setupDi.CallClassInstaller) &&
                   Resolve(module, "SetupDiDestroyDeviceInfoList", setupDi.DestroyDeviceInfoList);
        if (!all) {
            setupDi.loadError = ::GetLastError();
            setupDi.GetClassDevsA = nullptr;
        }
    }
    return setupDi.GetClassDevsA != nullptr;
}

// The runtime's fgets takes the stream's lock and makes a call for every byte, which made
// the INF search read its files at a third of the speed of plain block reads. These streams
// read blocks through the same runtime and cut the pieces out themselves. The program reads
// one file at a time, so a couple of static slots do.
struct LineStream {
    std::FILE* file;
    std::size_t start;
    std::size_t end;
    bool eof;
    char block[65536];
};

LineStream lineStreams[2];

// Copies from `from` up to and including the first line feed, at most `limit` bytes, and
// says how many it copied. The INF search cuts some half a million short pieces, and
// Wine's memchr walks byte by byte, so whole words are tested here while none of their
// four bytes is a line feed.
std::size_t CopyUpToLineFeed(char* to, const char* from, std::size_t limit) {
    std::size_t done = 0;
    while (limit - done >= 4) {
        std::uint32_t word;
        std::memcpy(&word, from + done, 4);
        const std::uint32_t lineFeeds = word ^ 0x0A0A0A0Au;  // a zero byte where a line feed was
        if ((lineFeeds - 0x01010101u) & ~lineFeeds & 0x80808080u) break;
        std::memcpy(to + done, &word, 4);
        done += 4;
    }
    while (done < limit) {
        const char byte = from[done];
        to[done++] = byte;
        if (byte == '\n') break;
    }
    return done;
}

}  // namespace

namespace Win {

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    return ::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA*>(info));
}

int WriteStdout(const char* text) {
    std::size_t length = std::strlen(text);
    std::size_t written = std::fwrite(text, 1, length, stdout);
    if (std::fflush(stdout) != 0 || written != length) return -1;
    return static_cast<int>(written);
}

int _getch() { return ::_getch(); }

void exit(int status) { std::exit(status); }

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(reinterpret_cast<::HWND>(owner), text, caption, type);
}

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD code) { ::SetLastError(code); }

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments) {
    return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                            static_cast<va_list*>(arguments));
}

HLOCAL LocalAlloc(UINT flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }

HLOCAL LocalFree(HLOCAL block) { return ::LocalFree(block); }

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND parent,
                              DWORD flags) {
    if (!SetupDiAvailable()) {
        ::SetLastError(setupDi.loadError);
        return INVALID_HANDLE_VALUE;
    }
    return setupDi.GetClassDevsA(reinterpret_cast<const ::GUID*>(classGuid), enumerator,
                                 reinterpret_cast<::HWND>(parent), flags);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* device) {
    return setupDi.EnumDeviceInfo(set, memberIndex, reinterpret_cast<PSP_DEVINFO_DATA>(device));
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* buffer,
                                       DWORD bufferSize, DWORD* requiredSize) {
    return setupDi.GetDeviceRegistryPropertyA(set, reinterpret_cast<PSP_DEVINFO_DATA>(device),
                                              property,
                                              reinterpret_cast<PDWORD>(propertyRegDataType),
                                              buffer, bufferSize,
                                              reinterpret_cast<PDWORD>(requiredSize));
}

BOOL SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, SP_DEVINFO_DATA* device) {
    return setupDi.CallClassInstaller(installFunction, set,
                                      reinterpret_cast<PSP_DEVINFO_DATA>(device));
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) { return setupDi.DestroyDeviceInfoList(set); }

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result) {
    return ::RegOpenKeyExA(reinterpret_cast<::HKEY>(key), subKey, options, samDesired,
                           reinterpret_cast<::PHKEY>(result));
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return ::RegQueryValueExA(reinterpret_cast<::HKEY>(key), valueName,
                              reinterpret_cast<LPDWORD>(reserved), reinterpret_cast<LPDWORD>(type),
                              data, reinterpret_cast<LPDWORD>(dataSize));
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    return ::RegDeleteKeyA(reinterpret_cast<::HKEY>(key), subKey);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(reinterpret_cast<::HKEY>(key)); }

UINT GetWindowsDirectoryA(char* buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }

HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
    return ::FindFirstFileA(fileName, reinterpret_cast<::WIN32_FIND_DATAA*>(findData));
}

BOOL FindClose(HANDLE search) { return ::FindClose(search); }

BOOL SetFileAttributesA(const char* fileName, DWORD attributes) {
    return ::SetFileAttributesA(fileName, attributes);
}

BOOL DeleteFileA(const char* fileName) { return ::DeleteFileA(fileName); }

FILE* fopen(const char* path, const char* mode) {
    LineStream* stream = nullptr;
    for (LineStream& slot : lineStreams) {
        if (!slot.file) {
            stream = &slot;
            break;
        }
    }
    if (!stream) {
        ::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return nullptr;
    }
    stream->file = std::fopen(path, mode);
    if (!stream->file) return nullptr;
    stream->start = stream->end = 0;
    stream->eof = false;
    return reinterpret_cast<FILE*>(stream);
}

// The runtime's fgets, result for result: at most size - 1 bytes, up to and including a
// line feed; null when nothing could be read; end of file set only by a read that found
// no more bytes.
char* fgets(char* buffer, int size, FILE* file) {
    LineStream& stream = *reinterpret_cast<LineStream*>(file);
    std::size_t count = 0;
    const std::size_t room = size > 1 ? static_cast<std::size_t>(size - 1) : 0;
    while (count < room) {
        if (stream.start == stream.end) {
            std::size_t got = std::fread(stream.block, 1, sizeof stream.block, stream.file);
            if (got == 0) {
                stream.eof = std::feof(stream.file) != 0;
                break;
            }
            stream.start = 0;
            stream.end = got;
        }
        std::size_t take = stream.end - stream.start;
        if (take > room - count) take = room - count;
        take = CopyUpToLineFeed(buffer + count, stream.block + stream.start, take);
        count += take;
        stream.start += take;
        if (buffer[count - 1] == '\n') break;
    }
    if (count == 0) return nullptr;
    buffer[count] = '\0';
    return buffer;
}

int feof(FILE* file) { return reinterpret_cast<LineStream*>(file)->eof ? 1 : 0; }

int fclose(FILE* file) {
    LineStream& stream = *reinterpret_cast<LineStream*>(file);
    const int result = std::fclose(stream.file);
    stream.file = nullptr;
    return result;
}

}  // namespace Win
