#include <cstring>

#include "platform/win.h"
#include "run/removal.h"
#include "run/texts.h"

bool DeviceInfoRemoved = false;

namespace {

char DeviceIdBuffer[256];
char FileArgBuffer[256];

void PutTarget(char* buffer, const char* text) {
    std::strncpy(buffer, text, 255);
    buffer[255] = '\0';
}

}  // namespace

int RunRemoval() {
    Win::WriteStdout(StartLineText);
    PutTarget(DeviceIdBuffer, FirstHardwareId);

    // Zero-filled, so that a failed query leaves platform ID 0 and takes the 9x branch
    // instead of reading whatever the stack held.
    Win::OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    Win::GetVersionExA(&version);

    if (version.dwPlatformId == Win::VER_PLATFORM_WIN32_NT) {
        RemoveDevicesByHardwareId(DeviceIdBuffer);
        PutTarget(DeviceIdBuffer, SecondHardwareId);
        RemoveDevicesByHardwareId(DeviceIdBuffer);
        PutTarget(FileArgBuffer, InfSignatureLine);
        RemoveOemInfBySignature(FileArgBuffer);
    } else {
        RemoveEnumRegistryEntry(DeviceIdBuffer);
        PutTarget(DeviceIdBuffer, SecondHardwareId);
        RemoveEnumRegistryEntry(DeviceIdBuffer);
        // A 98/ME installation leaves the copy of the 98/ME INF and a 2000/XP one the copy
        // of the 2000/XP INF; either may be on the machine, so both go.
        PutTarget(FileArgBuffer, InfCopyName9xMe);
        RemoveCopiedInf(FileArgBuffer);
        PutTarget(FileArgBuffer, InfCopyName2kXp);
        RemoveCopiedInf(FileArgBuffer);
    }

    Win::MessageBoxA(nullptr, DeviceInfoRemoved ? DeviceInfoRemovedText : DeviceInfoNotFoundText,
                     BoxCaption, Win::MB_OK);
    Win::WriteStdout(EndLineText);
    return FailuresReported == 0 ? 0 : 1;
}
