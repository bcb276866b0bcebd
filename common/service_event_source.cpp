#include "service_event_source.h"

#include <string.h>

#include "guards.h"

bool RegisterServiceEventSource(const char *messageFile)
{
    UniqueRegistryKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = static_cast<DWORD>(strlen(messageFile) + 1);
    LONG file = RegSetValueExA(key.Get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE *>(messageFile), size);
    DWORD types = kEventTypesSupported;
    LONG supported = RegSetValueExA(key.Get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&types),
                                    sizeof(types));
    return file == ERROR_SUCCESS && supported == ERROR_SUCCESS;
}

bool RemoveServiceEventSource()
{
    LONG error = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKeyPath);
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}
