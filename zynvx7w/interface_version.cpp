#include "include/zynvx7w.h"

// Version 1.6: major in the second byte, minor in the lowest. Test builds of the installer's
// version check define another.
#ifndef ZYN_INTERFACE_VERSION
#define ZYN_INTERFACE_VERSION 0x00000106
#endif

static const DWORD kInterfaceVersion = ZYN_INTERFACE_VERSION;

extern "C" DWORD WINAPI GetVX7Version(DWORD *version)
{
    if (version == nullptr) return ERROR_INVALID_PARAMETER;
    *version = kInterfaceVersion;
    return ERROR_SUCCESS;
}
