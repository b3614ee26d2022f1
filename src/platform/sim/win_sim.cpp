// The simulated machine: see sim.h.
#include "platform/sim/sim.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace {

using Win::BOOL;
using Win::DWORD;
using Win::LONG;

[[noreturn]] void Unmodelled(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("simulated Windows: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::fflush(stderr);
    std::abort();
}

std::string Fold(const std::string& text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

struct Fault {
    Sim::Op op;
    DWORD code;
    std::string target;  // folded; empty for any
    int times;           // < 0 for always
    int after;           // matching calls still to let through
};

struct Value {
    std::string name;
    DWORD type;
    std::string bytes;
};

struct Key {
    std::string name;
    std::map<std::string, std::shared_ptr<Key>> subkeys;  // by folded name
    std::map<std::string, Value> values;                  // by folded name
    Key* parent = nullptr;
    bool deleted = false;
};

struct OpenKey {
    std::shared_ptr<Key> key;
};

struct File {
    std::string path;
    std::string bytes;
    DWORD attributes;
};

struct Stream {
    std::string path;  // folded
    std::string bytes;
    std::size_t position = 0;
    bool eof = false;
    bool error = false;
};

struct Device {
    bool hasIds;
    std::string ids;
    bool present;
    bool removed = false;
};

// What a device record filled by SetupDiEnumDeviceInfo stands for.
struct DeviceRecord {
    std::uintptr_t set;
    int member;
};

struct Machine {
    DWORD platformId = Win::VER_PLATFORM_WIN32_NT;
    DWORD lastError = 0;
    std::vector<Fault> faults;
    std::vector<std::string> calls;

    std::string console;
    std::vector<int> keys;
    std::function<void(int)> exitHook;
    std::vector<Sim::MessageBoxRecord> boxes;
    std::function<void(const Sim::MessageBoxRecord&)> boxHook;
    std::map<DWORD, std::string> texts;

    std::shared_ptr<Key> root = std::make_shared<Key>();
    std::map<std::uintptr_t, OpenKey> openKeys;
    std::vector<std::shared_ptr<Key>> deletedKeys;  // kept so open handles and paths stay valid

    std::string windowsDirectory = "C:\\WINDOWS";
    std::map<std::string, File> files;  // by folded path
    std::map<std::uintptr_t, std::string> searches;
    std::map<std::uintptr_t, std::unique_ptr<Stream>> streams;

    std::vector<Device> devices;
    std::map<std::uintptr_t, std::vector<int>> deviceSets;
    std::map<std::uintptr_t, DeviceRecord> deviceRecords;  // by the mark in Reserved

    std::set<void*> localBlocks;
    std::uintptr_t nextHandle = 0x1000;
};

Machine* machine = nullptr;

Machine& M() {
    if (!machine) machine = new Machine();
    return *machine;
}

void Log(const char* name, const std::string& target = std::string()) {
    M().calls.push_back(target.empty() ? std::string(name) : std::string(name) + " " + target);
}

// The code an injected fault fails this call with, or 0 when it goes ahead.
DWORD Injected(Sim::Op op, const std::string& target = std::string()) {
    std::string folded = Fold(target);
    for (Fault& fault : M().faults) {
        if (fault.op != op || fault.times == 0) continue;
        if (!fault.target.empty() && fault.target != folded) continue;
        if (fault.after > 0) {
            --fault.after;
            continue;
        }
        if (fault.times > 0) --fault.times;
        return fault.code;
    }
    return 0;
}

std::uintptr_t NewHandle() { return M().nextHandle += 4; }

// A successful call may leave any last-error value; real Setup API calls often do (under
// Wine a successful DIF_REMOVE leaves ERROR_SERVICE_NOT_ACTIVE). The simulated ones leave
// a nonzero value no caller checks for, so code that reads GetLastError after a success
// reads junk here as it may on Windows.
const DWORD JunkAfterSuccess = 1062;

template <typename Result>
Result Succeeded(Result result) {
    M().lastError = JunkAfterSuccess;
    return result;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    parts.push_back(part);
    return parts;
}

std::string KeyPath(const Key* key) {
    std::vector<const std::string*> names;
    for (; key && key->parent; key = key->parent) names.push_back(&key->name);
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty()) path += '\\';
        path += **name;
    }
    return path;
}

std::shared_ptr<Key> FindKey(const std::shared_ptr<Key>& from, const std::string& subKey) {
    std::shared_ptr<Key> key = from;
    if (subKey.empty()) return key;
    for (const std::string& part : SplitPath(subKey)) {
        auto it = key->subkeys.find(Fold(part));
        if (part.empty() || it == key->subkeys.end()) return nullptr;
        key = it->second;
    }
    return key;
}

std::shared_ptr<Key> KeyOfHandle(Win::HKEY handle, const char* call) {
    if (handle == Win::HKEY_LOCAL_MACHINE) return M().root;
    auto it = M().openKeys.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == M().openKeys.end()) Unmodelled("%s on a key handle that is not open", call);
    return it->second.key;
}

std::string JoinKeyPath(const std::shared_ptr<Key>& base, const char* subKey) {
    std::string path = KeyPath(base.get());
    if (!subKey || !*subKey) return path;
    return path.empty() ? std::string(subKey) : path + "\\" + subKey;
}

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (const auto& entry : key.subkeys) MarkDeleted(*entry.second);
}

std::string FileName(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileIsOpen(const std::string& folded) {
    for (const auto& entry : M().streams) {
        if (entry.second->path == folded) return true;
    }
    return false;
}

void* NewLocalBlock(std::size_t bytes) {
    void* block = std::calloc(bytes ? bytes : 1, 1);
    if (!block) Unmodelled("out of host memory");
    M().localBlocks.insert(block);
    return block;
}

// "%1" to "%99" stand for arguments; the escapes ("%%", "%n", ...) need none.
bool HasInsert(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (text[i + 1] >= '1' && text[i + 1] <= '9') return true;
        ++i;
    }
    return false;
}

void CollectKeys(const Key& key, std::vector<std::string>& out) {
    for (const auto& entry : key.subkeys) {
        out.push_back(KeyPath(entry.second.get()));
        CollectKeys(*entry.second, out);
    }
}

void SetDefaultTexts(Machine& m) {
    m.texts[0] = "The operation completed successfully.\r\n";
    m.texts[2] = "The system cannot find the file specified.\r\n";
    m.texts[3] = "The system cannot find the path specified.\r\n";
    m.texts[5] = "Access is denied.\r\n";
    m.texts[6] = "The handle is invalid.\r\n";
    m.texts[8] = "Not enough storage is available to process this command.\r\n";
    m.texts[13] = "The data is invalid.\r\n";
    m.texts[87] = "The parameter is incorrect.\r\n";
    m.texts[122] = "The data area passed to a system call is too small.\r\n";
    m.texts[234] = "More data is available.\r\n";
    m.texts[259] = "No more data is available.\r\n";
}

}  // namespace

// ---- The Win32 side, as the removal code sees it ----

namespace Win {

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    Log("GetVersionExA");
    if (!info) Unmodelled("GetVersionExA without a record");
    if (DWORD code = Injected(Sim::Op::GetVersionEx)) {
        M().lastError = code;
        return FALSE;
    }
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    bool nt = M().platformId == VER_PLATFORM_WIN32_NT;
    info->dwMajorVersion = nt ? 5 : 4;
    info->dwMinorVersion = nt ? 1 : 10;
    info->dwBuildNumber = nt ? 2600 : 2222;
    info->dwPlatformId = M().platformId;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return Succeeded(TRUE);
}

int WriteStdout(const char* text) {
    Log("WriteStdout");
    if (!text) Unmodelled("WriteStdout without a text");
    if (DWORD code = Injected(Sim::Op::WriteStdout)) {
        M().lastError = code;
        return -1;
    }
    M().console += text;
    return Succeeded(static_cast<int>(std::strlen(text)));
}

int _getch() {
    Log("_getch");
    if (M().keys.empty()) Unmodelled("_getch with no key press queued: the program would wait forever");
    int key = M().keys.front();
    M().keys.erase(M().keys.begin());
    return key;
}

void exit(int status) {
    Log("exit");
    if (M().exitHook) M().exitHook(status);
    std::fflush(nullptr);
    std::_Exit(status);
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    Log("MessageBoxA");
    if (!text || !caption) Unmodelled("MessageBoxA without a text or caption");
    if (type != MB_OK) Unmodelled("MessageBoxA of type 0x%x: only MB_OK boxes are modelled", type);
    if (DWORD code = Injected(Sim::Op::MessageBox)) {
        M().lastError = code;
        return 0;
    }
    M().boxes.push_back(Sim::MessageBoxRecord{owner, text, caption, type, M().console});
    if (M().boxHook) M().boxHook(M().boxes.back());
    return Succeeded(1);  // IDOK
}

DWORD GetLastError() { return M().lastError; }

void SetLastError(DWORD code) { M().lastError = code; }

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments) {
    Log("FormatMessageA");
    if ((flags & ~FORMAT_MESSAGE_IGNORE_INSERTS) !=
            (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM) ||
        source || languageId != LANG_NEUTRAL_SUBLANG_DEFAULT || arguments || !buffer) {
        Unmodelled("FormatMessageA with flags 0x%x, language 0x%x: not modelled", flags, languageId);
    }
    (void)size;
    if (DWORD code = Injected(Sim::Op::FormatMessage)) {
        M().lastError = code;
        return 0;
    }
    auto it = M().texts.find(messageId);
    if (it == M().texts.end()) {
        M().lastError = 317;  // ERROR_MR_MID_NOT_FOUND
        return 0;
    }
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInsert(it->second)) {
        Unmodelled("FormatMessageA of a text with inserts and no arguments: Windows would read "
                   "arguments that were never passed");
    }
    char* text = static_cast<char*>(NewLocalBlock(it->second.size() + 1));
    std::memcpy(text, it->second.data(), it->second.size());
    *reinterpret_cast<char**>(buffer) = text;
    return Succeeded(static_cast<DWORD>(it->second.size()));
}

HLOCAL LocalAlloc(UINT flags, std::size_t bytes) {
    Log("LocalAlloc", std::to_string(bytes));
    if (flags != LMEM_ZEROINIT) Unmodelled("LocalAlloc with flags 0x%x: only LMEM_ZEROINIT is modelled", flags);
    if (DWORD code = Injected(Sim::Op::LocalAlloc)) {
        M().lastError = code;
        return nullptr;
    }
    return Succeeded(NewLocalBlock(bytes));
}

HLOCAL LocalFree(HLOCAL block) {
    Log("LocalFree");
    if (!block) return nullptr;
    if (!M().localBlocks.erase(block)) Unmodelled("LocalFree of a block that is not allocated");
    std::free(block);
    return Succeeded<HLOCAL>(nullptr);
}

// ---- Setup API ----

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND parent,
                              DWORD flags) {
    Log("SetupDiGetClassDevsA");
    if (classGuid || enumerator || parent || !(flags & DIGCF_ALLCLASSES) ||
        (flags & ~(DIGCF_ALLCLASSES | DIGCF_PRESENT))) {
        Unmodelled("SetupDiGetClassDevsA other than over all classes (flags 0x%x)", flags);
    }
    if (DWORD code = Injected(Sim::Op::GetClassDevs)) {
        M().lastError = code;
        return INVALID_HANDLE_VALUE;
    }
    std::vector<int> members;
    for (std::size_t i = 0; i < M().devices.size(); ++i) {
        const Device& device = M().devices[i];
        if (device.removed || ((flags & DIGCF_PRESENT) && !device.present)) continue;
        members.push_back(static_cast<int>(i));
    }
    std::uintptr_t handle = NewHandle();
    M().deviceSets[handle] = members;
    return Succeeded(reinterpret_cast<HDEVINFO>(handle));
}

static std::vector<int>& SetOf(HDEVINFO set, const char* call) {
    auto it = M().deviceSets.find(reinterpret_cast<std::uintptr_t>(set));
    if (it == M().deviceSets.end()) Unmodelled("%s on a device set that is not open", call);
    return it->second;
}

// The device a record names, or -1 with the last-error value set. As on Windows, the
// record must have its size set and carry the private mark that SetupDiEnumDeviceInfo
// wrote into it for this set; its other fields are not looked at.
static int MemberOf(HDEVINFO set, SP_DEVINFO_DATA* device, const char* call) {
    SetOf(set, call);
    if (!device) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return -1;
    }
    if (device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        M().lastError = ERROR_INVALID_USER_BUFFER;
        return -1;
    }
    auto it = M().deviceRecords.find(device->Reserved);
    if (it == M().deviceRecords.end() ||
        it->second.set != reinterpret_cast<std::uintptr_t>(set)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return -1;
    }
    return it->second.member;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* device) {
    Log("SetupDiEnumDeviceInfo", std::to_string(memberIndex));
    std::vector<int>& members = SetOf(set, "SetupDiEnumDeviceInfo");
    if (!device) Unmodelled("SetupDiEnumDeviceInfo without a device record");
    if (device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        M().lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    if (memberIndex >= members.size()) {
        M().lastError = ERROR_NO_MORE_ITEMS;
        return FALSE;
    }
    if (DWORD code = Injected(Sim::Op::EnumDeviceInfo, std::to_string(members[memberIndex]))) {
        M().lastError = code;
        return FALSE;
    }
    std::memset(&device->ClassGuid, 0, sizeof device->ClassGuid);
    device->DevInst = static_cast<DWORD>(members[memberIndex]);
    std::uintptr_t mark = NewHandle();
    M().deviceRecords[mark] = DeviceRecord{reinterpret_cast<std::uintptr_t>(set), members[memberIndex]};
    device->Reserved = mark;
    return Succeeded(TRUE);
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* buffer,
                                       DWORD bufferSize, DWORD* requiredSize) {
    int member = MemberOf(set, device, "SetupDiGetDeviceRegistryPropertyA");
    Log("SetupDiGetDeviceRegistryPropertyA", member < 0 ? "?" : std::to_string(member));
    if (member < 0) return FALSE;
    if (property != SPDRP_HARDWAREID) Unmodelled("device property %u is not modelled", property);
    if (!buffer && bufferSize) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (DWORD code = Injected(Sim::Op::GetDeviceRegistryProperty, std::to_string(member))) {
        M().lastError = code;
        return FALSE;
    }
    const Device& record = M().devices[member];
    if (record.removed) {
        M().lastError = 0xE000020B;  // ERROR_NO_SUCH_DEVINST
        return FALSE;
    }
    if (!record.hasIds) {
        M().lastError = ERROR_INVALID_DATA;
        return FALSE;
    }
    DWORD size = static_cast<DWORD>(record.ids.size());
    if (requiredSize) *requiredSize = size;
    if (bufferSize < size) {
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    if (propertyRegDataType) *propertyRegDataType = 7;  // REG_MULTI_SZ
    if (size) std::memcpy(buffer, record.ids.data(), size);  // an empty list needs no buffer
    return Succeeded(TRUE);
}

BOOL SetupDiCallClassInstaller(DWORD installFunction, HDEVINFO set, SP_DEVINFO_DATA* device) {
    int member = MemberOf(set, device, "SetupDiCallClassInstaller");
    Log("SetupDiCallClassInstaller", member < 0 ? "?" : std::to_string(member));
    if (member < 0) return FALSE;
    if (installFunction != DIF_REMOVE) Unmodelled("install function %u is not modelled", installFunction);
    if (DWORD code = Injected(Sim::Op::CallClassInstaller, std::to_string(member))) {
        M().lastError = code;
        return FALSE;
    }
    Device& record = M().devices[member];
    if (record.removed) {
        M().lastError = 0xE000020B;  // ERROR_NO_SUCH_DEVINST
        return FALSE;
    }
    record.removed = true;
    return Succeeded(TRUE);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    Log("SetupDiDestroyDeviceInfoList");
    SetOf(set, "SetupDiDestroyDeviceInfoList");
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(set);
    M().deviceSets.erase(handle);
    for (auto it = M().deviceRecords.begin(); it != M().deviceRecords.end();) {
        it = it->second.set == handle ? M().deviceRecords.erase(it) : std::next(it);
    }
    return Succeeded(TRUE);
}

// ---- Registry ----

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result) {
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegOpenKeyExA");
    std::string path = JoinKeyPath(base, subKey);
    Log("RegOpenKeyExA", path);
    if (!result || options != 0 || samDesired != KEY_ALL_ACCESS) {
        Unmodelled("RegOpenKeyExA with options %u, access 0x%x", options, samDesired);
    }
    if (DWORD code = Injected(Sim::Op::RegOpenKeyEx, path)) return static_cast<LONG>(code);
    if (base->deleted) return static_cast<LONG>(ERROR_KEY_DELETED);
    std::shared_ptr<Key> found = FindKey(base, subKey ? subKey : "");
    if (!found) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    std::uintptr_t handle = NewHandle();
    M().openKeys[handle] = OpenKey{found};
    *result = reinterpret_cast<HKEY>(handle);
    return 0;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegQueryValueExA");
    std::string path = KeyPath(base.get());
    Log("RegQueryValueExA", path + (valueName ? std::string(" ") + valueName : std::string()));
    if (reserved) Unmodelled("RegQueryValueExA with a reserved argument");
    if (data && !dataSize) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (DWORD code = Injected(Sim::Op::RegQueryValueEx, path)) return static_cast<LONG>(code);
    if (base->deleted) return static_cast<LONG>(ERROR_KEY_DELETED);
    auto it = base->values.find(Fold(valueName ? valueName : ""));
    if (it == base->values.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const Value& value = it->second;
    if (type) *type = value.type;
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (!dataSize) return 0;
    DWORD room = *dataSize;
    *dataSize = size;
    if (!data) return 0;
    if (room < size) return static_cast<LONG>(ERROR_MORE_DATA);
    std::memcpy(data, value.bytes.data(), size);
    return 0;
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegDeleteKeyA");
    std::string path = JoinKeyPath(base, subKey);
    Log("RegDeleteKeyA", path);
    if (!subKey) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (DWORD code = Injected(Sim::Op::RegDeleteKey, path)) return static_cast<LONG>(code);
    if (base->deleted) return static_cast<LONG>(ERROR_KEY_DELETED);
    std::shared_ptr<Key> target = FindKey(base, subKey);
    if (!target) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (!target->parent) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    // Windows 98 and ME delete a key together with everything below it; the NT family
    // refuses to delete a key that has subkeys.
    if (M().platformId == VER_PLATFORM_WIN32_NT && !target->subkeys.empty()) {
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    }
    MarkDeleted(*target);
    M().deletedKeys.push_back(target);
    target->parent->subkeys.erase(Fold(target->name));
    return 0;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) Unmodelled("RegCloseKey on HKEY_LOCAL_MACHINE");
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegCloseKey");
    std::string path = KeyPath(base.get());
    Log("RegCloseKey", path);
    if (DWORD code = Injected(Sim::Op::RegCloseKey, path)) return static_cast<LONG>(code);
    M().openKeys.erase(reinterpret_cast<std::uintptr_t>(key));
    return 0;
}

// ---- Files ----

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
    Log("GetWindowsDirectoryA");
    if (!buffer && size) Unmodelled("GetWindowsDirectoryA without a buffer");
    if (DWORD code = Injected(Sim::Op::GetWindowsDirectory)) {
        M().lastError = code;
        return 0;
    }
    const std::string& directory = M().windowsDirectory;
    UINT length = static_cast<UINT>(directory.size());
    if (size <= length) return length + 1;  // the size needed, terminating NUL included
    std::memcpy(buffer, directory.c_str(), length + 1);
    return Succeeded(length);
}

HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
    Log("FindFirstFileA", fileName ? fileName : "");
    if (!fileName || !findData) Unmodelled("FindFirstFileA without a name or record");
    if (std::strpbrk(fileName, "*?")) Unmodelled("FindFirstFileA with wildcards: %s", fileName);
    if (DWORD code = Injected(Sim::Op::FindFirstFile, fileName)) {
        M().lastError = code;
        return INVALID_HANDLE_VALUE;
    }
    auto it = M().files.find(Fold(fileName));
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::memset(findData, 0, sizeof *findData);
    findData->dwFileAttributes = it->second.attributes;
    findData->nFileSizeLow = static_cast<DWORD>(it->second.bytes.size());
    std::string name = FileName(it->second.path);
    std::snprintf(findData->cFileName, sizeof findData->cFileName, "%s", name.c_str());
    std::uintptr_t handle = NewHandle();
    M().searches[handle] = it->first;
    return Succeeded(reinterpret_cast<HANDLE>(handle));
}

BOOL FindClose(HANDLE search) {
    Log("FindClose");
    if (!M().searches.erase(reinterpret_cast<std::uintptr_t>(search))) {
        Unmodelled("FindClose on a search handle that is not open");
    }
    return Succeeded(TRUE);
}

BOOL SetFileAttributesA(const char* fileName, DWORD attributes) {
    Log("SetFileAttributesA", fileName ? fileName : "");
    if (!fileName) Unmodelled("SetFileAttributesA without a name");
    if (DWORD code = Injected(Sim::Op::SetFileAttributes, fileName)) {
        M().lastError = code;
        return FALSE;
    }
    auto it = M().files.find(Fold(fileName));
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    it->second.attributes = attributes ? attributes : 0x80;  // FILE_ATTRIBUTE_NORMAL
    return Succeeded(TRUE);
}

BOOL DeleteFileA(const char* fileName) {
    Log("DeleteFileA", fileName ? fileName : "");
    if (!fileName) Unmodelled("DeleteFileA without a name");
    if (DWORD code = Injected(Sim::Op::DeleteFile, fileName)) {
        M().lastError = code;
        return FALSE;
    }
    std::string folded = Fold(fileName);
    auto it = M().files.find(folded);
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (it->second.attributes & FILE_ATTRIBUTE_READONLY) {
        M().lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (FileIsOpen(folded)) {
        M().lastError = 32;  // ERROR_SHARING_VIOLATION: the C runtime does not share delete access
        return FALSE;
    }
    M().files.erase(it);
    return Succeeded(TRUE);
}

FILE* fopen(const char* path, const char* mode) {
    Log("fopen", path ? path : "");
    if (!path || !mode || std::strcmp(mode, "rb") != 0) Unmodelled("fopen other than \"rb\"");
    if (DWORD code = Injected(Sim::Op::FOpen, path)) {
        M().lastError = code;
        return nullptr;
    }
    std::string folded = Fold(path);
    auto it = M().files.find(folded);
    if (it == M().files.end()) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::unique_ptr<Stream> stream(new Stream());
    stream->path = folded;
    stream->bytes = it->second.bytes;
    std::uintptr_t handle = NewHandle();
    M().streams[handle] = std::move(stream);
    return Succeeded(reinterpret_cast<FILE*>(handle));
}

static Stream& StreamOf(FILE* file, const char* call) {
    auto it = M().streams.find(reinterpret_cast<std::uintptr_t>(file));
    if (it == M().streams.end()) Unmodelled("%s on a stream that is not open", call);
    return *it->second;
}

char* fgets(char* buffer, int size, FILE* file) {
    Stream& stream = StreamOf(file, "fgets");
    if (!buffer || size < 1) Unmodelled("fgets without room");
    if (DWORD code = Injected(Sim::Op::FGets, stream.path)) {
        M().lastError = code;
        stream.error = true;
        return nullptr;
    }
    // As the C runtime: end of file is set only by a read that finds no more bytes, so a
    // full-length piece that ends exactly at the end of the data leaves it clear.
    int count = 0;
    while (count < size - 1) {
        if (stream.position >= stream.bytes.size()) {
            stream.eof = true;
            break;
        }
        char c = stream.bytes[stream.position++];
        buffer[count++] = c;
        if (c == '\n') break;
    }
    if (count == 0) return nullptr;
    buffer[count] = '\0';
    return Succeeded(buffer);
}

int feof(FILE* file) { return StreamOf(file, "feof").eof ? 1 : 0; }

int fclose(FILE* file) {
    StreamOf(file, "fclose");
    Log("fclose", M().streams[reinterpret_cast<std::uintptr_t>(file)]->path);
    M().streams.erase(reinterpret_cast<std::uintptr_t>(file));
    return Succeeded(0);
}

}  // namespace Win

// ---- The test side ----

namespace Sim {

void Reset() {
    if (machine) {
        for (void* block : machine->localBlocks) std::free(block);
        delete machine;
    }
    machine = new Machine();
    SetDefaultTexts(*machine);
}

void Fail(Op op, DWORD code, const std::string& target, int times, int after) {
    M().faults.push_back(Fault{op, code, Fold(target), times, after});
}

void SetPlatformId(DWORD platformId) { M().platformId = platformId; }

const std::vector<std::string>& Calls() { return M().calls; }

std::vector<std::string> CallsOf(const std::string& name) {
    std::vector<std::string> targets;
    for (const std::string& call : M().calls) {
        if (call == name) {
            targets.push_back(std::string());
        } else if (call.compare(0, name.size() + 1, name + " ") == 0) {
            targets.push_back(call.substr(name.size() + 1));
        }
    }
    return targets;
}

const std::string& Console() { return M().console; }
void QueueKey(int key) { M().keys.push_back(key); }
int KeysQueued() { return static_cast<int>(M().keys.size()); }
void OnExit(std::function<void(int)> hook) { M().exitHook = std::move(hook); }

const std::vector<MessageBoxRecord>& Boxes() { return M().boxes; }
void OnMessageBox(std::function<void(const MessageBoxRecord&)> hook) { M().boxHook = std::move(hook); }

void SetMessageText(DWORD code, const std::string& text) { M().texts[code] = text; }
void ClearMessageTexts() { M().texts.clear(); }
DWORD LastError() { return M().lastError; }

void AddKey(const std::string& path) {
    std::shared_ptr<Key> key = M().root;
    for (const std::string& part : SplitPath(path)) {
        if (part.empty()) Unmodelled("AddKey with an empty key name in %s", path.c_str());
        std::shared_ptr<Key>& child = key->subkeys[Fold(part)];
        if (!child) {
            child = std::make_shared<Key>();
            child->name = part;
            child->parent = key.get();
        }
        key = child;
    }
}

void SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes,
              DWORD type) {
    AddKey(keyPath);
    FindKey(M().root, keyPath)->values[Fold(name)] = Value{name, type, bytes};
}

void SetStringValue(const std::string& keyPath, const std::string& name, const std::string& text) {
    SetValue(keyPath, name, text + std::string(1, '\0'));
}

bool KeyExists(const std::string& path) { return FindKey(M().root, path) != nullptr; }

std::vector<std::string> Keys() {
    std::vector<std::string> keys;
    CollectKeys(*M().root, keys);
    return keys;
}

int OpenKeyCount() { return static_cast<int>(M().openKeys.size()); }

void SetWindowsDirectory(const std::string& path) { M().windowsDirectory = path; }

void AddFile(const std::string& path, const std::string& content, DWORD attributes) {
    M().files[Fold(path)] = File{path, content, attributes};
}

bool FileExists(const std::string& path) { return M().files.count(Fold(path)) != 0; }

DWORD FileAttributes(const std::string& path) {
    auto it = M().files.find(Fold(path));
    return it == M().files.end() ? 0 : it->second.attributes;
}

std::vector<std::string> Files() {
    std::vector<std::string> paths;
    for (const auto& entry : M().files) paths.push_back(entry.second.path);
    return paths;
}

int OpenFileCount() { return static_cast<int>(M().streams.size()); }
int OpenSearchCount() { return static_cast<int>(M().searches.size()); }

int AddDevice(const std::string& hardwareIds, bool present) {
    M().devices.push_back(Device{true, hardwareIds, present});
    return static_cast<int>(M().devices.size() - 1);
}

int AddDeviceWithoutIds(bool present) {
    M().devices.push_back(Device{false, std::string(), present});
    return static_cast<int>(M().devices.size() - 1);
}

int AddDeviceWithIds(const std::vector<std::string>& ids, bool present) {
    std::string list;
    for (const std::string& id : ids) list += id + std::string(1, '\0');
    list.push_back('\0');
    return AddDevice(list, present);
}

bool DeviceExists(int device) {
    return device >= 0 && device < static_cast<int>(M().devices.size()) && !M().devices[device].removed;
}

int DeviceCount() {
    int count = 0;
    for (const Device& device : M().devices) count += device.removed ? 0 : 1;
    return count;
}

int OpenDeviceSetCount() { return static_cast<int>(M().deviceSets.size()); }

int LocalBlocksOutstanding() { return static_cast<int>(M().localBlocks.size()); }

}  // namespace Sim
