#include "health/health_settings.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "configuration/setting_events.h"
#include "guards.h"
#include "health/health_events.h"
#include "service_identity.h"

static void Ignore(bool warn, SettingSource source, const char *name, const char *reason)
{
    if (!warn) return;
    if (source == kSourcePolicy) {
        ReportPolicyValueIgnored(name, reason);
    } else {
        ReportHealthValueIgnored(name, reason);
    }
}

// The query's outcome when it is neither the data nor a value too large for the buffer.
static bool Unreadable(LONG error, char *reason, size_t size)
{
    if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) return false;
    snprintf(reason, size, "it cannot be read: error %ld", static_cast<long>(error));
    return true;
}

static void ReadNumber(SettingsView view, const HealthNumberRule &rule, bool warn, uint32_t *used)
{
    *used = rule.fallback;
    DWORD number = 0, type = REG_NONE, size = sizeof(number);
    SettingSource source = kSourceNone;
    LONG error = QuerySetting(view, rule.name, &type, reinterpret_cast<BYTE *>(&number), &size, &source);
    if (error == ERROR_FILE_NOT_FOUND) return;
    char reason[kHealthReasonSize];
    bool judged = !Unreadable(error, reason, sizeof(reason)) &&
                  JudgeHealthNumber(rule, type, error == ERROR_SUCCESS ? size : 0, number, used, reason, sizeof(reason));
    if (!judged) Ignore(warn, source, rule.name, reason);
}

// The raw text with its zero, or false with the reason; REG_EXPAND_SZ only when expandable.
static bool QueryText(SettingsView view, const char *name, bool expandable, char *raw, size_t size, DWORD *type,
                      char *reason)
{
    DWORD length = static_cast<DWORD>(size - 1);  // room for the zero the data may lack
    SettingSource source = kSourceNone;
    LONG error = QuerySetting(view, name, type, reinterpret_cast<BYTE *>(raw), &length, &source);
    if (Unreadable(error, reason, kHealthReasonSize)) return false;
    if (!JudgeHealthTextType(*type, expandable, reason, kHealthReasonSize)) return false;
    if (error == ERROR_MORE_DATA) {
        DescribeTooLong(size - 1, reason, kHealthReasonSize);
        return false;
    }
    raw[length] = '\0';
    return true;
}

// A command line (expanded when it is REG_EXPAND_SZ) or a folder; empty when absent or ignored.
// Gives where the value came from.
static SettingSource ReadText(SettingsView view, const char *name, bool expandable, bool warn, char *text, size_t size)
{
    text[0] = '\0';
    DWORD type = REG_NONE, length = 0;
    SettingSource source = kSourceNone;
    if (QuerySetting(view, name, &type, nullptr, &length, &source) == ERROR_FILE_NOT_FOUND) return source;
    char raw[kHealthCommandSize];
    char reason[kHealthReasonSize];
    if (!QueryText(view, name, expandable, raw, size, &type, reason)) {
        Ignore(warn, source, name, reason);
        return source;
    }
    if (type != REG_EXPAND_SZ) {
        memcpy(text, raw, strlen(raw) + 1);
        return source;
    }
    DWORD expanded = ExpandEnvironmentStringsA(raw, text, static_cast<DWORD>(size));
    if (expanded != 0 && expanded <= size) return source;
    text[0] = '\0';
    DescribeTooLong(size - 1, reason, sizeof(reason));
    Ignore(warn, source, name, reason);
    return source;
}

// A command line whose unquoted program path runs into a space is refused, as Windows would read it
// otherwise.
static void ReadCommand(SettingsView view, const char *name, bool warn, char *text, size_t size)
{
    SettingSource source = ReadText(view, name, true, warn, text, size);
    char reason[kHealthReasonSize];
    if (text[0] == '\0' || JudgeCommandQuoting(text, reason, sizeof(reason))) return;
    text[0] = '\0';
    Ignore(warn, source, name, reason);
}

static void ReadServices(SettingsView view, bool warn, HealthSettings *settings)
{
    settings->serviceCount = 0;
    char data[kHealthMaxServices * kHealthServiceNameSize + 1];
    DWORD type = REG_NONE, size = sizeof(data);
    SettingSource source = kSourceNone;
    LONG error = QuerySetting(view, kHealthServicesValue, &type, reinterpret_cast<BYTE *>(data), &size, &source);
    if (error == ERROR_FILE_NOT_FOUND) return;
    char reason[kHealthReasonSize];
    bool read = !Unreadable(error, reason, sizeof(reason));
    if (read && type != REG_MULTI_SZ) {
        snprintf(reason, sizeof(reason), "its type is not REG_MULTI_SZ");
        read = false;
    } else if (read && error == ERROR_MORE_DATA) {
        DescribeTooLong(sizeof(data), reason, sizeof(reason));
        read = false;
    }
    if (!read || !SplitHealthServices(data, size, settings, reason, sizeof(reason))) {
        Ignore(warn, source, kHealthServicesValue, reason);
    }
}

void ReadHealthSettings(HealthSettings *settings, bool warn, SettingsView view)
{
    memset(settings, 0, sizeof(*settings));
    settings->commandTimeout = kHealthCommandTimeoutRule.fallback;
    settings->checkInterval = kHealthCheckIntervalRule.fallback;
    settings->gracePeriod = kHealthGracePeriodRule.fallback;
    ReadCommand(view, kHealthCommandValue, warn, settings->command, sizeof(settings->command));
    ReadCommand(view, kRepairCommandValue, warn, settings->repairCommand, sizeof(settings->repairCommand));
    ReadText(view, kHealthFolderValue, false, warn, settings->folder, sizeof(settings->folder));
    ReadServices(view, warn, settings);
    ReadNumber(view, kHealthMinAvailableRule, warn, &settings->minAvailableMB);
    ReadNumber(view, kHealthCommandTimeoutRule, warn, &settings->commandTimeout);
    ReadNumber(view, kHealthCheckIntervalRule, warn, &settings->checkInterval);
    ReadNumber(view, kHealthGracePeriodRule, warn, &settings->gracePeriod);
}

uint64_t ReadLastWithheld()
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return 0;
    uint64_t fileTime = 0;
    DWORD type = REG_NONE, size = sizeof(fileTime);
    LONG error = RegQueryValueExA(key.Get(), kHealthLastWithheldValue, nullptr, &type,
                                  reinterpret_cast<BYTE *>(&fileTime), &size);
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    char reason[kHealthReasonSize];
    if (Unreadable(error, reason, sizeof(reason)) ||
        !JudgeLastWithheld(type, error == ERROR_SUCCESS ? size : 0, reason, sizeof(reason))) {
        Ignore(true, kSourceServiceKey, kHealthLastWithheldValue, reason);
        return 0;
    }
    return fileTime;
}

bool WriteLastWithheld(uint64_t fileTime)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKeyPath, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.Get(), kHealthLastWithheldValue, 0, REG_QWORD, reinterpret_cast<const BYTE *>(&fileTime),
                          sizeof(fileTime)) == ERROR_SUCCESS;
}
