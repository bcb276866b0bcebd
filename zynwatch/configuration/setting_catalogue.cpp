#include "configuration/setting_catalogue.h"

#include <stdio.h>
#include <string.h>

// The texts' limits are those of the buffers the health settings are read into, less the zero.
const SettingEntry kSettingCatalogue[kSettingCount] = {
    {"TimeoutAction", kSettingNumber, kGroupWatchdog, 0, 3, 0},
    {"PreTimeoutAction", kSettingNumber, kGroupWatchdog, 0, 3, 0},
    {"TimeoutValue", kSettingNumber, kGroupWatchdog, 10, 6553, 0},
    {"PreTimeoutInterval", kSettingNumber, kGroupWatchdog, 0, 255, 0},
    {"HeartbeatInterval", kSettingNumber, kGroupHeartbeat, 1, 6553, 0},
    {"ShutdownTimeout", kSettingNumber, kGroupShutdown, 10, 6553, 0},
    {"SelEvents", kSettingNumber, kGroupShutdown, 0, 1, 0},
    {"HealthCommand", kSettingCommand, kGroupHealth, 0, 2046, 0},
    {"RepairCommand", kSettingCommand, kGroupHealth, 0, 2046, 0},
    {"HealthFolder", kSettingText, kGroupHealth, 0, 246, 0},
    {"HealthServices", kSettingNameList, kGroupHealth, 0, 256, 16},
    {"HealthMinAvailableMB", kSettingNumber, kGroupHealth, 1, 16777216, 0},
    {"HealthCommandTimeout", kSettingNumber, kGroupHealth, 1, 3600, 0},
    {"HealthCheckInterval", kSettingNumber, kGroupHealth, 1, 3600, 0},
    {"HealthGracePeriod", kSettingNumber, kGroupHealth, 30, 86400, 0},
};

const uint32_t kRegDword = 4;  // the registry's type number of REG_DWORD

static char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool SameName(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
    }
    return *a == *b;
}

size_t FindSetting(const char *name)
{
    for (size_t index = 0; index < kSettingCount; ++index) {
        if (SameName(name, kSettingCatalogue[index].name)) return index;
    }
    return kSettingCount;
}

const char *SettingSourceName(uint8_t source)
{
    return source == kSourcePolicy ? "policy" : source == kSourceServiceKey ? "serviceKey" : "default";
}

static size_t KeptSize(const SettingValue &value)
{
    return value.size < kSettingDataSize ? value.size : kSettingDataSize;
}

bool SameSettingValue(const SettingValue &a, const SettingValue &b)
{
    return a.source == b.source && a.unreadable == b.unreadable && a.type == b.type && a.size == b.size &&
           memcmp(a.data, b.data, KeptSize(a)) == 0;
}

uint32_t ChangedSettingGroups(const SettingsSnapshot &before, const SettingsSnapshot &after)
{
    uint32_t groups = 0;
    for (size_t index = 0; index < kSettingCount; ++index) {
        if (!SameSettingValue(before.values[index], after.values[index])) groups |= kSettingCatalogue[index].group;
    }
    return groups;
}

static const char *Where(uint8_t source)
{
    return source == kSourcePolicy ? "from Group Policy" : "in the service's key";
}

static void DescribeChange(const char *name, const SettingValue &value, char *clause, size_t size)
{
    uint32_t number = 0;
    if (value.source == kSourceNone) {
        snprintf(clause, size, "%s removed", name);
    } else if (!value.unreadable && value.type == kRegDword && value.size == sizeof(number)) {
        memcpy(&number, value.data, sizeof(number));
        snprintf(clause, size, "%s %lu %s", name, static_cast<unsigned long>(number), Where(value.source));
    } else {
        snprintf(clause, size, "%s changed %s", name, Where(value.source));
    }
}

size_t DescribeSettingChanges(const SettingsSnapshot &before, const SettingsSnapshot &after, char *text,
                              size_t size)
{
    if (size == 0) return 0;
    text[0] = '\0';
    size_t count = 0, used = 0;
    for (size_t index = 0; index < kSettingCount; ++index) {
        if (SameSettingValue(before.values[index], after.values[index])) continue;
        char clause[96];
        DescribeChange(kSettingCatalogue[index].name, after.values[index], clause, sizeof(clause));
        int written = snprintf(text + used, size - used, "%s%s", count == 0 ? "" : ", ", clause);
        ++count;
        if (written < 0 || static_cast<size_t>(written) >= size - used) break;  // cut, still ended
        used += static_cast<size_t>(written);
    }
    return count;
}

void NoteRepairedSetting(SettingsSnapshot *snapshot, const char *name, uint32_t number)
{
    size_t index = FindSetting(name);
    if (index == kSettingCount) return;
    SettingValue &value = snapshot->values[index];
    value.source = kSourceServiceKey;
    value.unreadable = false;
    value.type = kRegDword;
    value.size = sizeof(number);
    memcpy(value.data, &number, sizeof(number));
}
