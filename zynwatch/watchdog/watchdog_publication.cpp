#include "watchdog/watchdog_publication.h"

#include <windows.h>

#include "guards.h"
#include "service_identity.h"

const char kWatchdogKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Watchdog";
const char kFailuresValue[] = "HeartbeatFailures";
const char kFailuresInARowValue[] = "HeartbeatFailuresInARow";
const char kExpiryFoundValue[] = "WatchdogExpiryFound";

static void SetDword(HKEY key, const char *name, uint32_t value)
{
    DWORD data = value;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), sizeof(data));
}

void PublishHeartbeatFailures(uint32_t total, uint32_t inARow)
{
    UniqueRegistryKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kWatchdogKeyPath, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    SetDword(key.Get(), kFailuresValue, total);
    SetDword(key.Get(), kFailuresInARowValue, inARow);
}

void RemoveHeartbeatPublication()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kWatchdogKeyPath);
}

static bool QueryDword(HKEY key, const char *name, uint32_t *value)
{
    DWORD data = 0, type = REG_NONE, size = sizeof(data);
    LONG error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&data), &size);
    if (error != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) return false;
    *value = data;
    return true;
}

bool ReadHeartbeatPublication(uint32_t *total, uint32_t *inARow)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWatchdogKeyPath, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
    return QueryDword(key.Get(), kFailuresValue, total) && QueryDword(key.Get(), kFailuresInARowValue, inARow);
}

void WriteWatchdogExpiryFound(uint64_t fileTime)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) return;
    RegSetValueExA(key.Get(), kExpiryFoundValue, 0, REG_QWORD, reinterpret_cast<const BYTE *>(&fileTime),
                   sizeof(fileTime));
}

uint64_t ReadWatchdogExpiryFound()
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return 0;
    uint64_t fileTime = 0;
    DWORD type = REG_NONE, size = sizeof(fileTime);
    LONG error = RegQueryValueExA(key.Get(), kExpiryFoundValue, nullptr, &type, reinterpret_cast<BYTE *>(&fileTime),
                                  &size);
    return error == ERROR_SUCCESS && type == REG_QWORD && size == sizeof(fileTime) ? fileTime : 0;
}
