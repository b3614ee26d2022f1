#include "platform/win.h"
#include "run/removal.h"

// Not built yet: removes nothing.
int RemoveDevicesByHardwareId(const char* hardwareId) {
    (void)hardwareId;
    return 0;
}
