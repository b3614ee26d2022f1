#include "fuzz_support.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "run/removal.h"
#include "run/texts.h"

namespace Fuzz {

std::uint8_t Input::Byte() { return at_ < size_ ? data_[at_++] : 0; }

unsigned Input::U16() {
    unsigned low = Byte();
    return low | (static_cast<unsigned>(Byte()) << 8);
}

std::string Input::Bytes(std::size_t count) {
    count = std::min(count, size_ - std::min(at_, size_));
    std::string bytes(reinterpret_cast<const char*>(data_) + at_, count);
    at_ += count;
    return bytes;
}

std::string Input::Rest() { return Bytes(size_); }

void Violated(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("fuzz invariant broken: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::abort();
}

std::string Fold(const std::string& text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

bool AtOrBelow(const std::string& path, const std::string& key) {
    const std::string p = Fold(path);
    const std::string k = Fold(key);
    return p == k || (p.size() > k.size() && p.compare(0, k.size(), k) == 0 && p[k.size()] == '\\');
}

std::vector<std::string> HardwareIds(const std::string& list) {
    std::vector<std::string> ids;
    std::size_t at = 0;
    while (at < list.size() && list[at] != '\0') {
        std::size_t end = list.find('\0', at);
        if (end == std::string::npos) end = list.size();
        ids.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return ids;
}

bool ListsAdapterId(const std::string& list) {
    for (const std::string& id : HardwareIds(list)) {
        if (id == FirstHardwareId || id == SecondHardwareId) return true;
    }
    return false;
}

bool CarriesSignature(const std::string& content) {
    const std::string signature(InfSignatureLine);
    std::size_t piece = 0;
    while (piece < content.size()) {
        if (content.compare(piece, signature.size(), signature) == 0) return true;
        std::size_t end = piece;
        while (end < content.size() && end - piece < 79) {
            if (content[end++] == '\n') break;
        }
        piece = end;
    }
    return false;
}

namespace {

struct DeviceRecord {
    bool hasIds;
    std::string list;
};

struct Ledger {
    std::string windowsDirectory = "C:\\WINDOWS";
    std::map<std::string, std::string> fileContents;                    // by folded path
    std::map<std::string, std::map<std::string, std::string>> values;  // folded key, folded name
    std::vector<DeviceRecord> devices;

    std::vector<std::string> filesBefore;
    std::vector<std::string> keysBefore;
    std::vector<int> devicesBefore;
};

Ledger ledger;

std::vector<std::string> Gone(const std::vector<std::string>& before,
                              const std::vector<std::string>& after) {
    std::set<std::string> remaining;
    for (const std::string& path : after) remaining.insert(Fold(path));
    std::vector<std::string> gone;
    for (const std::string& path : before) {
        if (!remaining.count(Fold(path))) gone.push_back(path);
    }
    return gone;
}

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t slash = path.find('\\', at);
        parts.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
        if (slash == std::string::npos) return parts;
        at = slash + 1;
    }
}

// The driver keys the adapter's ENUM keys named before the run, below the Class key.
std::vector<std::string> DriverKeys() {
    std::vector<std::string> keys;
    for (const char* id : {FirstHardwareId, SecondHardwareId}) {
        auto key = ledger.values.find(Fold(std::string("ENUM\\") + id + "\\0"));
        if (key == ledger.values.end()) continue;
        auto value = key->second.find("DRIVER");
        if (value == key->second.end()) continue;
        const std::string& bytes = value->second;
        std::size_t nul = bytes.find('\0');
        if (nul == std::string::npos) continue;
        const std::string name = bytes.substr(0, nul);
        std::vector<std::string> parts = Split(name);
        if (parts.size() < 2) continue;
        if (std::find(parts.begin(), parts.end(), std::string()) != parts.end()) continue;
        keys.push_back(std::string(ClassKey) + "\\" + name);
    }
    return keys;
}

bool AllowedKey(const std::string& path, const std::vector<std::string>& driverKeys) {
    for (const char* id : {FirstHardwareId, SecondHardwareId}) {
        if (AtOrBelow(path, std::string("ENUM\\") + id)) return true;
    }
    for (const std::string& driverKey : driverKeys) {
        if (AtOrBelow(path, driverKey)) return true;
    }
    return false;
}

// The N of <Windows>\inf\oemN.inf or oemN.pnf, or -1 for any other path.
int OemNumber(const std::string& path) {
    const std::string prefix = Fold(ledger.windowsDirectory + "\\inf\\oem");
    const std::string p = Fold(path);
    if (p.size() < prefix.size() + 5 || p.compare(0, prefix.size(), prefix) != 0) return -1;
    const std::string rest = p.substr(prefix.size());
    const std::string digits = rest.substr(0, rest.size() - 4);
    const std::string extension = rest.substr(rest.size() - 4);
    if (extension != ".INF" && extension != ".PNF") return -1;
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return -1;
    if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::atoi(digits.c_str());
}

}  // namespace

void NewMachine() {
    Sim::Reset();
    DeviceInfoRemoved = false;
    FailuresReported = 0;
    ledger = Ledger();
}

void SetWindowsDirectory(const std::string& path) {
    ledger.windowsDirectory = path;
    Sim::SetWindowsDirectory(path);
}

const std::string& WindowsDirectory() { return ledger.windowsDirectory; }

void AddFile(const std::string& path, const std::string& content, Win::DWORD attributes) {
    ledger.fileContents[Fold(path)] = content;
    Sim::AddFile(path, content, attributes);
}

void AddKey(const std::string& path) { Sim::AddKey(path); }

void SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes,
              Win::DWORD type) {
    ledger.values[Fold(keyPath)][Fold(name)] = bytes;
    Sim::SetValue(keyPath, name, bytes, type);
}

int AddDevice(const std::string& list, bool present) {
    ledger.devices.push_back(DeviceRecord{true, list});
    return Sim::AddDevice(list, present);
}

int AddDeviceWithoutIds(bool present) {
    ledger.devices.push_back(DeviceRecord{false, std::string()});
    return Sim::AddDeviceWithoutIds(present);
}

void AddBystanders() {
    const std::string& windows = ledger.windowsDirectory;
    const std::string signed_(std::string(InfSignatureLine) + "\r\n");
    AddFile(windows + "\\inf\\oem255.inf", signed_, Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile(windows + "\\inf\\oem255.pnf", "PNF", Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile(windows + "\\inf\\machine.inf", signed_, Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile(windows + "\\inf\\oem1.inf.bak", signed_, Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile(windows + "\\inf\\other\\Other Corp.serial.inf", "[Version]\r\n",
            Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile(windows + "\\inf\\other\\" + InfCopyName9xMe + ".old", "[Version]\r\n",
            Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile(windows + "\\system32\\drivers\\serial.sys", "MZ", Win::FILE_ATTRIBUTE_ARCHIVE);
    AddFile("C:\\oem0.inf", signed_, Win::FILE_ATTRIBUTE_ARCHIVE);

    SetValue("ENUM\\PCMCIA\\OTHER-CARD-1234\\0", "Driver", std::string("Ports\\0001", 11), 1);
    AddKey(std::string(ClassKey) + "\\Ports\\0000");
    AddKey(std::string(ClassKey) + "\\Ports\\0001");
    AddKey(std::string(ClassKey) + "\\Modem\\0000");
    AddKey(std::string(ClassKey) + "\\Net");
    AddKey("Software\\Kalvor");

    AddDevice(std::string("PCMCIA\\OTHER-CARD-1234\0\0", 24), true);
    AddDeviceWithoutIds(false);
    AddDevice(Fold(FirstHardwareId) + std::string(2, '\0'), true);
    AddDevice(std::string(SecondHardwareId) + "X" + std::string(2, '\0'), false);
}

void TakeSnapshot() {
    ledger.filesBefore = Sim::Files();
    ledger.keysBefore = Sim::Keys();
    ledger.devicesBefore.clear();
    for (int device = 0; device < static_cast<int>(ledger.devices.size()); ++device) {
        if (Sim::DeviceExists(device)) ledger.devicesBefore.push_back(device);
    }
}

std::vector<std::string> FilesGone() { return Gone(ledger.filesBefore, Sim::Files()); }
std::vector<std::string> KeysGone() { return Gone(ledger.keysBefore, Sim::Keys()); }

std::vector<int> DevicesGone() {
    std::vector<int> gone;
    for (int device : ledger.devicesBefore) {
        if (!Sim::DeviceExists(device)) gone.push_back(device);
    }
    return gone;
}

void CheckOnlyTargetsGone(bool registryCloseMayFail) {
    const std::vector<std::string> driverKeys = DriverKeys();
    for (const std::string& key : KeysGone()) {
        FUZZ_CHECK(AllowedKey(key, driverKeys), "key %s was deleted", key.c_str());
    }

    int oemDeleted = -1;
    for (const std::string& path : FilesGone()) {
        const int number = OemNumber(path);
        if (number >= 0) {
            FUZZ_CHECK(number <= 254, "%s was deleted", path.c_str());
            FUZZ_CHECK(oemDeleted < 0 || oemDeleted == number, "oem%d and %s were both deleted",
                       oemDeleted, path.c_str());
            const std::string inf =
                Fold(ledger.windowsDirectory + "\\inf\\oem" + std::to_string(number) + ".inf");
            auto content = ledger.fileContents.find(inf);
            FUZZ_CHECK(content != ledger.fileContents.end() && CarriesSignature(content->second),
                       "%s was deleted, but oem%d.inf does not carry the signature", path.c_str(),
                       number);
            oemDeleted = number;
            continue;
        }
        bool copy = false;
        for (const char* name : {InfCopyName9xMe, InfCopyName2kXp}) {
            copy = copy || Fold(path) == Fold(ledger.windowsDirectory + "\\inf\\other\\" + name);
        }
        FUZZ_CHECK(copy, "file %s was deleted", path.c_str());
    }

    for (int device : DevicesGone()) {
        const DeviceRecord& record = ledger.devices[device];
        FUZZ_CHECK(record.hasIds && ListsAdapterId(record.list),
                   "device %d was removed without listing a hardware ID of the adapter", device);
    }

    FUZZ_CHECK(Sim::OpenFileCount() == 0, "%d streams left open", Sim::OpenFileCount());
    FUZZ_CHECK(Sim::OpenSearchCount() == 0, "%d searches left open", Sim::OpenSearchCount());
    FUZZ_CHECK(Sim::OpenDeviceSetCount() == 0, "%d device sets left open",
               Sim::OpenDeviceSetCount());
    FUZZ_CHECK(Sim::LocalBlocksOutstanding() == 0, "%d heap blocks not released",
               Sim::LocalBlocksOutstanding());
    FUZZ_CHECK(registryCloseMayFail || Sim::OpenKeyCount() == 0, "%d keys left open",
               Sim::OpenKeyCount());

    for (const Sim::MessageBoxRecord& box : Sim::Boxes()) {
        FUZZ_CHECK(box.owner == nullptr && box.type == Win::MB_OK && box.caption == "Kalvor",
                   "a box other than an ownerless MB_OK box captioned Kalvor");
        FUZZ_CHECK(box.text.size() <= 255, "a box text of %zu bytes", box.text.size());
    }
}

}  // namespace Fuzz
