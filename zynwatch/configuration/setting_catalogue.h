#pragma once
// Every setting the service reads, with its registry type and range, where each value comes from,
// and the copy of them all the service keeps of what it applied. A value is read under the Group
// Policy key when that holds it, else under the service's own key. The policy template in
// package/PolicyDefinitions offers exactly these settings with these ranges. Plain rules without
// Win32 calls, so they also build and are tested natively.
#include <stddef.h>
#include <stdint.h>

// Group Policy writes here; a value here overrides the service key's and vanishes with the policy.
const char kPolicyKeyPath[] = "SOFTWARE\\Policies\\Zynvarra\\ZynAsrService";

enum SettingKind : uint8_t {
    kSettingNumber,    // REG_DWORD
    kSettingText,      // REG_SZ
    kSettingCommand,   // REG_SZ or REG_EXPAND_SZ
    kSettingNameList,  // REG_MULTI_SZ
};

// What the service does when a value changes while it runs.
enum SettingGroup : uint8_t {
    kGroupWatchdog = 1,   // the watchdog is armed again
    kGroupShutdown = 2,   // the preshutdown and shutdown notices are accepted or not
    kGroupHeartbeat = 4,  // the next pause follows it
    kGroupHealth = 8,     // the health checks start again
};

struct SettingEntry {
    const char *name;
    SettingKind kind;
    SettingGroup group;
    uint32_t lowest;   // a number's least value
    uint32_t highest;  // a number's greatest value; a text's, or one name's, most characters
    uint32_t count;    // a list's most names
};

const size_t kSettingCount = 15;
extern const SettingEntry kSettingCatalogue[kSettingCount];

// The entry's index, names compared without regard to letter case as the registry does;
// kSettingCount for a name the service does not read.
size_t FindSetting(const char *name);

enum SettingSource : uint8_t {
    kSourceNone,        // neither key holds the value: the service's default is used
    kSourceServiceKey,  // HKLM\SYSTEM\CurrentControlSet\Services\ZynAsrService
    kSourcePolicy,      // the Group Policy key
};

// "default", "serviceKey", "policy".
const char *SettingSourceName(uint8_t source);

// A value as the registry held it: its first bytes, enough for any value the service accepts, so
// that a longer one is judged too long from the copy as from the original.
const size_t kSettingDataSize = 4200;

struct SettingValue {
    uint8_t source;
    bool unreadable;  // the query failed otherwise than for a value too large
    uint32_t type;
    uint32_t size;  // the whole value's
    uint8_t data[kSettingDataSize];
};

struct SettingsSnapshot {
    SettingValue values[kSettingCount];
};

bool SameSettingValue(const SettingValue &a, const SettingValue &b);

// The groups (SettingGroup bits) of the values that differ.
uint32_t ChangedSettingGroups(const SettingsSnapshot &before, const SettingsSnapshot &after);

// One clause per value that differs: "TimeoutValue 600 from Group Policy", "HealthCommand changed
// in the service's key", "ShutdownTimeout removed"; empty when none does. Gives the count.
size_t DescribeSettingChanges(const SettingsSnapshot &before, const SettingsSnapshot &after, char *text,
                              size_t size);

// The value as the repair writes it back into the service key: a REG_DWORD of four bytes.
void NoteRepairedSetting(SettingsSnapshot *snapshot, const char *name, uint32_t number);
