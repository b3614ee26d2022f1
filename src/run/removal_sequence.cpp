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

    // A failed query leaves the record undefined, whatever it held before, so only a
    // successful one is read; a failure takes the 9x branch.
    Win::OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    const bool ntFamily =
        Win::GetVersionExA(&version) && version.dwPlatformId == Win::VER_PLATFORM_WIN32_NT;

    if (ntFamily) {
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
