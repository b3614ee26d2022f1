#include <cstring>

#include "platform/win.h"
#include "run/removal.h"

namespace {

// Whether the REG_MULTI_SZ list holds hardwareId as one of its strings. The list is read
// only within the size bytes the query returned: a device may store its list without the
// terminating NULs, and a last string that runs to the end of the buffer ends there.
bool ListHoldsId(const Win::BYTE* list, Win::DWORD size, const char* hardwareId) {
    const std::size_t idLength = std::strlen(hardwareId);
    Win::DWORD position = 0;
    while (position < size && list[position] != '\0') {
        Win::DWORD length = 0;
        while (position + length < size && list[position + length] != '\0') ++length;
        if (length == idLength && std::memcmp(list + position, hardwareId, idLength) == 0) {
            return true;
        }
        position += length + 1;
    }
    return false;
}

}  // namespace

int RemoveDevicesByHardwareId(const char* hardwareId) {
    // Without DIGCF_PRESENT, so that a card not inserted now is removed as well.
    Win::HDEVINFO devices =
        Win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, Win::DIGCF_ALLCLASSES);
    if (devices == Win::INVALID_HANDLE_VALUE) {
        ReportFailure("GetClassDevs()");
        return 1;
    }

    Win::SP_DEVINFO_DATA device;
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;

    for (Win::DWORD index = 0; Win::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        Win::BYTE* ids = nullptr;
        Win::DWORD idsSize = 0;
        Win::DWORD requiredSize = 0;
        Win::DWORD dataType = 0;
        bool hasIds = true;

        while (!Win::SetupDiGetDeviceRegistryPropertyA(devices, &device, Win::SPDRP_HARDWAREID,
                                                       &dataType, ids, idsSize, &requiredSize)) {
            const Win::DWORD error = Win::GetLastError();
            if (error == Win::ERROR_INVALID_DATA) {
                hasIds = false;
                break;
            }
            // A "too small" answer that asks for no more than was offered would repeat for
            // ever; it is a failure like any other.
            if (error != Win::ERROR_INSUFFICIENT_BUFFER || requiredSize <= idsSize) {
                ReportFailure("GetDeviceRegistryProperty()");
                if (ids) Win::LocalFree(ids);
                Win::SetupDiDestroyDeviceInfoList(devices);
                return 0;
            }
            if (ids) Win::LocalFree(ids);
            ids = static_cast<Win::BYTE*>(Win::LocalAlloc(Win::LMEM_ZEROINIT, requiredSize));
            if (!ids) {
                ReportFailure("LocalAlloc()");
                Win::SetupDiDestroyDeviceInfoList(devices);
                return 0;
            }
            idsSize = requiredSize;
        }

        const Win::DWORD listSize = requiredSize < idsSize ? requiredSize : idsSize;
        if (hasIds && ListHoldsId(ids, listSize, hardwareId)) {
            if (Win::SetupDiCallClassInstaller(Win::DIF_REMOVE, devices, &device)) {
                DeviceInfoRemoved = true;
            } else {
                ReportFailure("CallClassInstaller(REMOVE)");
            }
        }
        if (ids) Win::LocalFree(ids);
    }

    const Win::DWORD error = Win::GetLastError();
    if (error != Win::ERROR_SUCCESS && error != Win::ERROR_NO_MORE_ITEMS) {
        ReportFailure("EnumDeviceInfo()");
    }

    Win::SetupDiDestroyDeviceInfoList(devices);
    return 0;
}
