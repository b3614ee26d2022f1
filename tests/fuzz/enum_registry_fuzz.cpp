// The whole 98/ME run (both ENUM removals and the INF copies), fed arbitrary key layouts and
// arbitrary Driver values.
//
// Input: a header of four bytes, then operations until the input ends.
//   [0] fault: 0 none, 1 RegOpenKeyEx, 2 RegQueryValueEx, 3 RegDeleteKey, 4 RegCloseKey,
//       5 FindFirstFile, 6 SetFileAttributes, 7 DeleteFile, 8 GetWindowsDirectory
//   [1] the base key (below) whose path the fault hits, 255 for every path
//   [2] the error code, an index into a table
//   [3] INF copies: 1 the 98/ME copy present, 2 it is read-only, 4 the 2000/XP copy
//       present, 8 it is read-only
// Operation, by its first byte:
//   even: add a key: base, length (1 byte), a path below the base
//   odd:  set a value on a base key: base, name (0 Driver, 1 DRIVER, 2 "Driver ",
//         3 Other), type, length (2 bytes, little-endian), the value's bytes
// Bases: 0 the root, 1 ENUM\PCMCIA, 2 the Class key, 3 and 4 ENUM\<first or second ID>,
// 5 and 6 their instance "0", 7 the Class key's Ports class.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "run/removal.h"
#include "run/texts.h"

namespace {

const Win::DWORD Codes[] = {2, 5, 13, 87, 234, 1018, 0x12345678};

std::string Base(std::uint8_t selector) {
    const std::string enumFirst = std::string("ENUM\\") + FirstHardwareId;
    const std::string enumSecond = std::string("ENUM\\") + SecondHardwareId;
    switch (selector % 8) {
        case 1: return "ENUM\\PCMCIA";
        case 2: return Fuzz::ClassKey;
        case 3: return enumFirst;
        case 4: return enumSecond;
        case 5: return enumFirst + "\\0";
        case 6: return enumSecond + "\\0";
        case 7: return std::string(Fuzz::ClassKey) + "\\Ports";
        default: return std::string();
    }
}

// The key path below base, without the empty names a doubled backslash would make.
std::string Below(const std::string& base, const std::string& bytes) {
    std::string path = base;
    std::string name;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\\') {
            if (!name.empty()) path += (path.empty() ? "" : "\\") + name;
            name.clear();
        } else {
            name.push_back(bytes[i]);
        }
    }
    return path;
}

// A value any installation would write: "<class>\<instance>" of letters and digits, with its
// NUL, that the program reads whole.
bool PlainDriverValue(const std::string& bytes) {
    std::size_t nul = bytes.find('\0');
    if (nul == std::string::npos || bytes.size() > 2048) return false;
    std::size_t slash = bytes.find('\\');
    if (slash == 0 || slash == std::string::npos || slash + 1 >= nul) return false;
    for (std::size_t i = 0; i < nul; ++i) {
        const char c = bytes[i];
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum && i != slash) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fuzz::Input input(data, size);
    Fuzz::NewMachine();
    Sim::SetPlatformId(Win::VER_PLATFORM_WIN32_WINDOWS);
    Fuzz::AddBystanders();

    const std::uint8_t fault = input.Byte() % 9;
    const std::uint8_t faultBase = input.Byte();
    const Win::DWORD code = Codes[input.Byte() % (sizeof Codes / sizeof Codes[0])];
    const std::uint8_t copies = input.Byte();

    const std::string other = Fuzz::WindowsDirectory() + "\\inf\\other\\";
    const std::string copy9x = other + InfCopyName9xMe;
    const std::string copy2k = other + InfCopyName2kXp;
    if (copies & 1) {
        Fuzz::AddFile(copy9x, "[Version]\r\n",
                      copies & 2 ? Win::FILE_ATTRIBUTE_READONLY : Win::FILE_ATTRIBUTE_ARCHIVE);
    }
    if (copies & 4) {
        Fuzz::AddFile(copy2k, "[Version]\r\n",
                      copies & 8 ? Win::FILE_ATTRIBUTE_READONLY : Win::FILE_ATTRIBUTE_ARCHIVE);
    }

    // The Driver value each ID's instance "0" holds, as the program will find it.
    std::string driver[2];
    bool hasDriver[2] = {false, false};
    for (int operations = 0; !input.Empty() && operations < 64; ++operations) {
        const std::uint8_t operation = input.Byte();
        const std::uint8_t selector = input.Byte() % 8;
        const std::string base = Base(selector);
        if (operation % 2 == 0) {
            const std::string path = Below(base, input.Bytes(input.Byte() % 32));
            if (!path.empty()) Fuzz::AddKey(path);
            continue;
        }
        const std::uint8_t nameSelector = input.Byte() % 4;
        const Win::DWORD type = input.Byte() % 8;
        const std::string bytes = input.Bytes(input.U16());
        if (base.empty()) continue;
        static const char* const Names[] = {"Driver", "DRIVER", "Driver ", "Other"};
        Fuzz::SetValue(base, Names[nameSelector], bytes, type);
        if ((selector == 5 || selector == 6) && nameSelector < 2) {
            driver[selector - 5] = bytes;
            hasDriver[selector - 5] = true;
        }
    }

    const std::string faultTarget = faultBase == 255 ? std::string() : Base(faultBase);
    switch (fault) {
        case 1: Sim::Fail(Sim::Op::RegOpenKeyEx, code, faultTarget); break;
        case 2: Sim::Fail(Sim::Op::RegQueryValueEx, code, faultTarget); break;
        case 3: Sim::Fail(Sim::Op::RegDeleteKey, code, faultTarget); break;
        case 4: Sim::Fail(Sim::Op::RegCloseKey, code, faultTarget); break;
        case 5: Sim::Fail(Sim::Op::FindFirstFile, code, faultBase % 2 ? copy9x : copy2k); break;
        case 6: Sim::Fail(Sim::Op::SetFileAttributes, code, faultBase % 2 ? copy9x : copy2k); break;
        case 7: Sim::Fail(Sim::Op::DeleteFile, code, faultBase % 2 ? copy9x : copy2k); break;
        case 8: Sim::Fail(Sim::Op::GetWindowsDirectory, code); break;
        default: break;
    }

    Fuzz::TakeSnapshot();
    const bool classKeyBefore = Sim::KeyExists(Fuzz::ClassKey);
    RunRemoval();
    Fuzz::CheckOnlyTargetsGone(fault == 4);

    FUZZ_CHECK(!classKeyBefore || Sim::KeyExists(Fuzz::ClassKey), "the Class key was deleted");
    bool enumGone = false;
    for (const std::string& key : Fuzz::KeysGone()) {
        for (const char* id : {FirstHardwareId, SecondHardwareId}) {
            enumGone = enumGone || Fuzz::Fold(key) == Fuzz::Fold(std::string("ENUM\\") + id);
        }
    }
    FUZZ_CHECK(DeviceInfoRemoved == enumGone, "DeviceInfoRemoved is %d, an ENUM key went: %d",
               DeviceInfoRemoved, enumGone);
    FUZZ_CHECK(!Sim::Boxes().empty() &&
                   Sim::Boxes().back().text ==
                       (DeviceInfoRemoved ? DeviceInfoRemovedText : DeviceInfoNotFoundText),
               "the run did not end with the result box for DeviceInfoRemoved");

    if (fault == 0) {
        for (int i = 0; i < 2; ++i) {
            const char* id = i == 0 ? FirstHardwareId : SecondHardwareId;
            if (!hasDriver[i] || !PlainDriverValue(driver[i])) continue;
            FUZZ_CHECK(!Sim::KeyExists(std::string("ENUM\\") + id),
                       "ENUM\\%s names driver key %s and stayed", id, driver[i].c_str());
            const std::string driverKey = std::string(Fuzz::ClassKey) + "\\" + driver[i].c_str();
            FUZZ_CHECK(!Sim::KeyExists(driverKey), "driver key %s stayed", driverKey.c_str());
        }
        FUZZ_CHECK(!Sim::FileExists(copy9x) && !Sim::FileExists(copy2k), "an INF copy stayed");
    }
    return 0;
}
