#include "include/zynvx7w.h"

// Version 1.6: major in the second byte, minor in the lowest.
static const DWORD kInterfaceVersion = 0x00000106;

extern "C" DWORD WINAPI GetVX7Version(DWORD *version)
{
    if (version == nullptr) return ERROR_INVALID_PARAMETER;
    *version = kInterfaceVersion;
    return ERROR_SUCCESS;
}
