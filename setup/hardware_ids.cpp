#include "hardware_ids.h"

#include <new>

HardwareIdRead ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA *device, HardwareIdList *list)
{
    list->data.reset();
    list->size = 0;
    DWORD capacity = 0;
    DWORD required = 0;
    while (!SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                              reinterpret_cast<BYTE *>(list->data.get()), capacity, &required)) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_DATA) return kNoHardwareIds;
        if (error != ERROR_INSUFFICIENT_BUFFER) return kHardwareIdReadFailed;
        // A size that does not grow would be asked for again and again.
        if (required <= capacity) return kHardwareIdReadFailed;
        list->data.reset(new (std::nothrow) char[required]);
        if (!list->data) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return kHardwareIdReadFailed;
        }
        capacity = required;
    }
    list->size = required < capacity ? required : capacity;
    return kHardwareIdsRead;
}

bool NextHardwareId(const HardwareIdList &list, size_t *position, MultiStringEntry *entry)
{
    return NextMultiStringEntry(list.data.get(), list.size, position, entry);
}

static bool IsAnsiLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

bool HardwareIdEqualsIgnoringCase(const MultiStringEntry &entry, const char *hardwareId)
{
    return EntryEqualsIgnoringCase(entry, hardwareId, IsAnsiLeadByte);
}
