// The simulated Windows machine behind win.h in the host build. Tests arrange a machine
// with these functions, run the removal code against it, and then inspect what is left.
//
// The simulation models what the uninstaller relies on and nothing more. Anything it does
// not model (a wildcard search, a predefined key other than HKEY_LOCAL_MACHINE, an unknown
// handle, a flag it has no behaviour for, a key read when no key press was queued) ends the
// process with a message on standard error instead of pretending to succeed. Where Windows
// is strict it is too: a successful call other than a registry call leaves a junk nonzero
// last-error value, a failed GetVersionExA leaves junk in its record (with a platform ID
// that reads as NT), and a device record counts only as SetupDiEnumDeviceInfo filled it.
//
// Registry paths are relative to HKEY_LOCAL_MACHINE ("ENUM\\PCMCIA\\..."); file paths are
// full Windows paths ("C:\\WINDOWS\\inf\\oem0.inf"). Both compare without regard to ASCII
// letter case, as on Windows.
#ifndef KALVOR_PLATFORM_SIM_H
#define KALVOR_PLATFORM_SIM_H

#include <functional>
#include <string>
#include <vector>

#include "platform/win.h"

namespace Sim {

using Win::DWORD;

// Operations that can be made to fail on demand.
enum class Op {
    GetVersionEx,
    WriteStdout,
    MessageBox,
    FormatMessage,
    LocalAlloc,
    GetClassDevs,
    EnumDeviceInfo,
    GetDeviceRegistryProperty,
    CallClassInstaller,
    RegOpenKeyEx,
    RegQueryValueEx,
    RegDeleteKey,
    RegCloseKey,
    GetWindowsDirectory,
    FindFirstFile,
    SetFileAttributes,
    DeleteFile,
    FOpen,
    FGets,
};

// A fresh machine: NT platform (Windows XP), Windows directory C:\WINDOWS, an empty
// HKEY_LOCAL_MACHINE, no files, no devices, English system texts for a few common codes,
// an empty console, no key presses, no faults and last-error value 0.
void Reset();

// Makes every later call of op fail with code, as Windows reports that failure: registry
// calls return the code (and leave the last-error value alone), the others return their
// failure value and set the last-error value. With a target, only calls on that registry
// path, file path or device (its decimal id from AddDevice) fail. With times > 0, only that
// many matching calls fail. With after > 0, that many matching calls go ahead before the
// fault takes effect (the second query of the same device, say). GetVersionEx, WriteStdout,
// MessageBox, FormatMessage and LocalAlloc take no target.
void Fail(Op op, DWORD code, const std::string& target = "", int times = -1, int after = 0);

// Platform and version
void SetPlatformId(DWORD platformId);

// Every call the program made, in order, as "Name target" (for example
// "RegCloseKey ENUM\\X\\0", "fopen C:\\WINDOWS\\inf\\oem3.inf", "MessageBoxA").
const std::vector<std::string>& Calls();
std::vector<std::string> CallsOf(const std::string& name);  // the targets, in order

// Console, keys and process exit
const std::string& Console();
void QueueKey(int key);
int KeysQueued();
// Called by Win::exit before the process ends with the status.
void OnExit(std::function<void(int status)> hook);

// Message boxes
struct MessageBoxRecord {
    Win::HWND owner;
    std::string text;
    std::string caption;
    Win::UINT type;
    std::string console;  // what the console showed when the box appeared
};
const std::vector<MessageBoxRecord>& Boxes();
// Called while each box is up, before it is dismissed with OK.
void OnMessageBox(std::function<void(const MessageBoxRecord&)> hook);

// System message texts, as FormatMessageA returns them (Windows ends them in CR LF).
void SetMessageText(DWORD code, const std::string& text);
void ClearMessageTexts();
Win::DWORD LastError();

// Registry below HKEY_LOCAL_MACHINE
void AddKey(const std::string& path);  // with every missing key above it
void SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes,
              DWORD type = 1 /* REG_SZ */);
void SetStringValue(const std::string& keyPath, const std::string& name,
                    const std::string& text);  // stored with its terminating NUL
bool KeyExists(const std::string& path);
std::vector<std::string> Keys();  // every key, depth first, as spelled when created
int OpenKeyCount();

// Files
void SetWindowsDirectory(const std::string& path);
void AddFile(const std::string& path, const std::string& content,
             DWORD attributes = Win::FILE_ATTRIBUTE_ARCHIVE);
bool FileExists(const std::string& path);
DWORD FileAttributes(const std::string& path);  // 0 when absent
std::vector<std::string> Files();
int OpenFileCount();    // fopen streams not yet closed
int OpenSearchCount();  // FindFirstFileA handles not yet closed

// Plug and Play device records. hardwareIds holds the raw REG_MULTI_SZ bytes, which need
// not be well formed; a device added without them has no hardware-ID property.
int AddDevice(const std::string& hardwareIds, bool present = true);
int AddDeviceWithoutIds(bool present = true);
int AddDeviceWithIds(const std::vector<std::string>& ids, bool present = true);
bool DeviceExists(int device);
int DeviceCount();
int OpenDeviceSetCount();

// Local heap blocks not yet released (LocalAlloc and FormatMessageA's buffers).
int LocalBlocksOutstanding();

}  // namespace Sim

#endif
