// The simulated Setup API: device records, the sets built over them and the records
// an enumeration fills. See sim.h.
#include "platform/sim/machine.h"

#include <cstring>
#include <iterator>

using namespace Simulated;

namespace Win {

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
    if (!device) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
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

}  // namespace Win

namespace Sim {

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

}  // namespace Sim
