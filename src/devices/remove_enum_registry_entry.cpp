#include <cstring>

#include "platform/win.h"
#include "run/cp932.h"
#include "run/removal.h"

namespace {

const char ClassKeyPath[] = "System\\CurrentControlSet\\Services\\Class";
const char InstanceKeyName[] = "0";
const char DriverValueName[] = "Driver";
const Win::DWORD DriverBufferSize = 2048;

// Registry calls return their code instead of setting the last-error value, and the
// failure box shows the last-error value.
void ReportRegistryFailure(const char* label, Win::LONG code) {
    Win::SetLastError(static_cast<Win::DWORD>(code));
    ReportFailure(label);
}

// A driver key is named "<class>\<instance>", as "Ports\0003". On 98/ME a deleted key takes
// everything below it, so a value naming the Class key itself or a whole class must never
// reach RegDeleteKeyA. The second byte of a double-byte character may be 0x5C without being
// a separator, so only whole characters are counted.
bool IsDriverKeyName(const char* data, Win::DWORD size) {
    const void* nul = std::memchr(data, '\0', size);
    if (!nul) return false;
    const std::size_t length = static_cast<const char*>(nul) - data;

    std::size_t separators = 0;
    std::size_t separatorAt = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (IsLeadByte(static_cast<unsigned char>(data[i])) && i + 1 < length) {
            ++i;
        } else if (data[i] == '\\') {
            ++separators;
            separatorAt = i;
        }
    }
    return separators == 1 && separatorAt > 0 && separatorAt + 1 < length;
}

}  // namespace

int RemoveEnumRegistryEntry(const char* hardwareId) {
    char enumPath[256];
    const int composed = Win::snprintf(enumPath, sizeof enumPath, "ENUM\\%s", hardwareId);
    // A cut path could name another device's key; an ID this long names none we could open.
    if (composed < 0 || composed >= static_cast<int>(sizeof enumPath)) return 1;

    Win::HKEY enumKey = nullptr;
    if (Win::RegOpenKeyExA(Win::HKEY_LOCAL_MACHINE, enumPath, 0, Win::KEY_ALL_ACCESS, &enumKey) !=
        0) {
        return 1;
    }

    Win::HKEY instanceKey = nullptr;
    Win::HKEY classKey = nullptr;
    bool instanceOpen = false;
    bool classOpen = false;

    instanceOpen = Win::RegOpenKeyExA(enumKey, InstanceKeyName, 0, Win::KEY_ALL_ACCESS,
                                      &instanceKey) == 0;
    if (instanceOpen) {
        char driver[DriverBufferSize];
        Win::DWORD size = DriverBufferSize;
        const Win::LONG queried =
            Win::RegQueryValueExA(instanceKey, DriverValueName, nullptr, nullptr,
                                  reinterpret_cast<Win::BYTE*>(driver), &size);
        if (queried == static_cast<Win::LONG>(Win::ERROR_FILE_NOT_FOUND)) {
            ReportRegistryFailure("RegQueryValueEx() can't find Key.", queried);
        } else if (queried != 0) {
            ReportRegistryFailure("RegQueryValueEx()", queried);
        } else if (!IsDriverKeyName(driver, size < DriverBufferSize ? size : DriverBufferSize)) {
            ReportRegistryFailure("RegQueryValueEx()",
                                  static_cast<Win::LONG>(Win::ERROR_INVALID_DATA));
        } else {
            classOpen = Win::RegOpenKeyExA(Win::HKEY_LOCAL_MACHINE, ClassKeyPath, 0,
                                           Win::KEY_ALL_ACCESS, &classKey) == 0;
        }
        if (classOpen) {
            const Win::LONG driverDeleted = Win::RegDeleteKeyA(classKey, driver);
            if (driverDeleted != 0) ReportRegistryFailure("RegDeleteKey()", driverDeleted);

            // The 98/ME registry deletes the key with every instance below it, although
            // this call still holds handles to it.
            const Win::LONG enumDeleted = Win::RegDeleteKeyA(Win::HKEY_LOCAL_MACHINE, enumPath);
            if (enumDeleted != 0) {
                ReportRegistryFailure("RegDeleteKey()", enumDeleted);
            } else {
                DeviceInfoRemoved = true;
            }
        }
    }

    if (classOpen) Win::RegCloseKey(classKey);
    if (instanceOpen) Win::RegCloseKey(instanceKey);
    Win::RegCloseKey(enumKey);
    return 0;
}
