#include "platform/win.h"
#include "run/removal.h"

// Not built yet: removes nothing.
int RemoveOemInfBySignature(const char* signature) {
    (void)signature;
    return 0;
}
