#include "configuration/service_configuration.h"

#include <stdio.h>

#include "configuration/setting_events.h"
#include "guards.h"
#include "service_identity.h"

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

// The value's first four bytes whatever its type; bytes it lacks stay zero. False when neither key
// holds it readably, or it does not fit four bytes. type, size and source, when given, tell what the
// value was and where it was found.
static bool QueryFourBytes(SettingsView view, const char *name, DWORD *number, DWORD *type = nullptr,
                           DWORD *size = nullptr, SettingSource *source = nullptr)
{
    *number = 0;
    DWORD read = sizeof(*number), found = REG_NONE;
    SettingSource where = kSourceNone;
    LONG error = QuerySetting(view, name, &found, reinterpret_cast<BYTE *>(number), &read, &where);
    if (source != nullptr) *source = where;
    if (error == ERROR_SUCCESS) {
        if (type != nullptr) *type = found;
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

// A policy value out of range is used as the service key's would be, but the policy is left as it is.
static void ReportPolicyValueRepaired(const ConfigurationValueRule &rule, bool read, uint32_t number, uint32_t used)
{
    char reason[160];
    if (read) {
        snprintf(reason, sizeof(reason), "%lu is outside %lu to %lu; %lu is used",
                 static_cast<unsigned long>(rule.judgedByLowestByte ? (number & 0xFFu) : number),
                 static_cast<unsigned long>(rule.lowest), static_cast<unsigned long>(rule.highest),
                 static_cast<unsigned long>(used));
    } else {
        snprintf(reason, sizeof(reason), "it cannot be read as a number of four bytes; %lu is used",
                 static_cast<unsigned long>(used));
    }
    ReportPolicyValueIgnored(rule.name, reason);
}

static WatchdogSettings ReadWatchdogSettings(SettingsView view, bool repair, SettingsSnapshot *repairs)
{
    WatchdogSettings settings = {};
    for (const ConfigurationValueRule &rule : kLoadedValueRules) {
        DWORD number = 0;
        SettingSource source = kSourceNone;
        bool read = QueryFourBytes(view, rule.name, &number, nullptr, nullptr, &source);
        uint32_t used = 0;
        if (!JudgeConfigurationValue(rule, read, number, &used) && repair) {
            if (source == kSourcePolicy) {
                ReportPolicyValueRepaired(rule, read, number, used);
            } else {
                SetDwordValue(rule.name, used);
                if (repairs != nullptr) NoteRepairedSetting(repairs, rule.name, used);
            }
        }
        StoreSettingsField(&settings, rule.field, used);
    }
    return settings;
}

WatchdogSettings LoadWatchdogSettings(SettingsSnapshot *repairs)
{
    return ReadWatchdogSettings(kSettingsConfigured, true, repairs);
}

WatchdogSettings PeekWatchdogSettings(SettingsView view)
{
    return ReadWatchdogSettings(view, false, nullptr);
}

// A value that must be a REG_DWORD of four bytes; false for any other type or size.
static bool QueryDword(SettingsView view, const char *name, DWORD *number)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    return QueryFourBytes(view, name, number, &type, &size) && type == REG_DWORD && size == sizeof(*number);
}

uint16_t ReadShutdownTimeout(SettingsView view)
{
    DWORD number = 0;
    bool read = QueryDword(view, kShutdownTimeoutValue, &number);
    return JudgeShutdownTimeout(read, number);
}

bool ReadHeartbeatInterval(DWORD *seconds, SettingsView view)
{
    return QueryFourBytes(view, kHeartbeatIntervalValue, seconds);
}
