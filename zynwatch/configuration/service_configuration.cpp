#include "configuration/service_configuration.h"

#include "guards.h"
#include "service_identity.h"

const REGSAM kReadAccess = KEY_READ;                // 0x20019
const REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

static void SetValue(const char *name, DWORD type, const BYTE *data, DWORD size)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, kReadWriteAccess, key.Receive()) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key.Get(), name, 0, type, data, size);
}

static void SetDwordValue(const char *name, DWORD value)
{
    SetValue(name, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
}

// The value's first four bytes whatever its type; bytes it lacks stay zero. False when the key
// or the value cannot be read, or the value does not fit four bytes. type and size, when given,
// tell what the value was.
static bool QueryFourBytes(const char *name, DWORD *number, DWORD *type = nullptr, DWORD *size = nullptr)
{
    *number = 0;
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, kReadAccess, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD read = sizeof(*number);
    if (RegQueryValueExA(key.Get(), name, nullptr, type, reinterpret_cast<BYTE *>(number), &read) == ERROR_SUCCESS) {
        if (size != nullptr) *size = read;
        return true;
    }
    *number = 0;  // a value too large for the buffer may have left bytes in it
    return false;
}

void WriteServiceConfiguration(BYTE timeoutAction, BYTE preTimeoutAction)
{
    BYTE description[kDescriptionBlockSize];
    BuildDescriptionBlock(description);
    SetValue(kDescriptionValue, REG_SZ, description, sizeof(description));
    for (size_t index = 0; index < kInstalledValueCount; ++index) {
        DWORD value = kInstalledValues[index].value;
        if (index == kInstalledTimeoutActionIndex) value = timeoutAction;
        if (index == kInstalledPreTimeoutActionIndex) value = preTimeoutAction;
        if (index == kInstalledPreTimeoutIntervalIndex) value = InstalledPreTimeoutInterval(preTimeoutAction);
        SetDwordValue(kInstalledValues[index].name, value);
    }
}

static WatchdogSettings ReadWatchdogSettings(bool repair)
{
    WatchdogSettings settings = {};
    for (const ConfigurationValueRule &rule : kLoadedValueRules) {
        DWORD number = 0;
        bool read = QueryFourBytes(rule.name, &number);
        uint32_t used = 0;
        if (!JudgeConfigurationValue(rule, read, number, &used) && repair) SetDwordValue(rule.name, used);
        StoreSettingsField(&settings, rule.field, used);
    }
    return settings;
}

WatchdogSettings LoadWatchdogSettings()
{
    return ReadWatchdogSettings(true);
}

WatchdogSettings PeekWatchdogSettings()
{
    return ReadWatchdogSettings(false);
}

// A value that must be a REG_DWORD of four bytes; false for any other type or size.
static bool QueryDword(const char *name, DWORD *number)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    return QueryFourBytes(name, number, &type, &size) && type == REG_DWORD && size == sizeof(*number);
}

uint16_t ReadShutdownTimeout()
{
    DWORD number = 0;
    bool read = QueryDword(kShutdownTimeoutValue, &number);
    return JudgeShutdownTimeout(read, number);
}

bool ReadHeartbeatInterval(DWORD *seconds)
{
    return QueryFourBytes(kHeartbeatIntervalValue, seconds);
}
