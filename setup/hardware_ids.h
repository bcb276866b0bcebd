#pragma once
// A device's hardware-identifier list (SPDRP_HARDWAREID), read whole into a buffer that grows to the
// size the system asks for, and compared entry by entry within the size it reported.
#include <windows.h>
#include <setupapi.h>

#include <memory>

#include "multi_string.h"

enum HardwareIdRead {
    kHardwareIdsRead,
    kNoHardwareIds,       // the device has no such property
    kHardwareIdReadFailed // any other failure; the thread's last error tells which
};

struct HardwareIdList {
    std::unique_ptr<char[]> data;
    DWORD size = 0;  // bytes the system reported for the property
};

HardwareIdRead ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA *device, HardwareIdList *list);

// The entry at *position and the position after it; false at an empty entry or the end of the list.
bool NextHardwareId(const HardwareIdList &list, size_t *position, MultiStringEntry *entry);

// Without regard to letter case; a double-byte character of the ANSI code page compares as one unit.
bool HardwareIdEqualsIgnoringCase(const MultiStringEntry &entry, const char *hardwareId);
