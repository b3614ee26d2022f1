#include "platform/win.h"
#include "run/removal.h"

// Not built yet: removes nothing.
int RemoveCopiedInf(const char* copyName) {
    (void)copyName;
    return 0;
}
