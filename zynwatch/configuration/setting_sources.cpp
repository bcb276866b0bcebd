#include "configuration/setting_sources.h"

#include <string.h>

#include "guards.h"
#include "service_identity.h"

const char kAppliedKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Applied";
const char kAppliedPolicyKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Applied\\Policy";
const char kAppliedServiceKeyPath[] = "System\\CurrentControlSet\\Services\\ZynAsrService\\Applied\\Service";

// The keys a view reads, the one that wins first.
struct ViewKeys {
    const char *policy;
    const char *service;
};

static ViewKeys KeysOf(SettingsView view)
{
    if (view == kSettingsApplied) return {kAppliedPolicyKeyPath, kAppliedServiceKeyPath};
    return {kPolicyKeyPath, kServiceKeyPath};
}

static LONG QueryIn(const char *path, const char *name, DWORD *type, BYTE *data, DWORD *size)
{
    UniqueRegistryKey key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive());
    if (error != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;
    return RegQueryValueExA(key.Get(), name, nullptr, type, data, size);
}

LONG QuerySetting(SettingsView view, const char *name, DWORD *type, BYTE *data, DWORD *size, SettingSource *source)
{
    *source = kSourceNone;
    if (FindSetting(name) == kSettingCount) return ERROR_INVALID_PARAMETER;
    ViewKeys keys = KeysOf(view);
    DWORD room = *size;
    LONG error = QueryIn(keys.policy, name, type, data, size);
    if (error != ERROR_FILE_NOT_FOUND) {
        *source = kSourcePolicy;
        return error;
    }
    *size = room;
    error = QueryIn(keys.service, name, type, data, size);
    if (error != ERROR_FILE_NOT_FOUND) *source = kSourceServiceKey;
    return error;
}

static void ReadSettingValue(SettingsView view, const char *name, SettingValue *value)
{
    memset(value, 0, sizeof(*value));
    DWORD type = REG_NONE, size = sizeof(value->data);
    SettingSource source = kSourceNone;
    LONG error = QuerySetting(view, name, &type, value->data, &size, &source);
    value->source = source;
    if (error == ERROR_MORE_DATA) {
        // Longer than any value the service accepts: kept as zeros of its type and size, which the
        // copy's reader judges too long just as the original's.
        memset(value->data, 0, sizeof(value->data));
        value->type = type;
        value->size = size;
        return;
    }
    value->unreadable = error != ERROR_SUCCESS && source != kSourceNone;
    value->type = error == ERROR_SUCCESS ? type : REG_NONE;
    value->size = error == ERROR_SUCCESS ? size : 0;
}

void ReadSettingsSnapshot(SettingsView view, SettingsSnapshot *snapshot)
{
    for (size_t index = 0; index < kSettingCount; ++index) {
        ReadSettingValue(view, kSettingCatalogue[index].name, &snapshot->values[index]);
    }
}

static bool CreateVolatileKey(const char *path)
{
    UniqueRegistryKey key;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS;
}

static void SetCopy(const char *path, const char *name, const SettingValue &value)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) return;
    DWORD size = value.size < kSettingDataSize ? value.size : static_cast<DWORD>(kSettingDataSize);
    RegSetValueExA(key.Get(), name, 0, value.type, value.data, size);
}

static void DeleteCopy(const char *path, const char *name)
{
    UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) return;
    RegDeleteValueA(key.Get(), name);
}

// Set under its source's key before it leaves the other, so a reader meanwhile finds the old or the
// new value, never none.
static void WriteCopy(const char *name, const SettingValue &value)
{
    bool held = value.source != kSourceNone && !value.unreadable;
    bool policy = held && value.source == kSourcePolicy;
    if (held) SetCopy(policy ? kAppliedPolicyKeyPath : kAppliedServiceKeyPath, name, value);
    if (!held || !policy) DeleteCopy(kAppliedPolicyKeyPath, name);
    if (!held || policy) DeleteCopy(kAppliedServiceKeyPath, name);
}

bool PublishAppliedSettings(const SettingsSnapshot &snapshot)
{
    if (!CreateVolatileKey(kAppliedKeyPath) || !CreateVolatileKey(kAppliedPolicyKeyPath) ||
        !CreateVolatileKey(kAppliedServiceKeyPath)) {
        return false;
    }
    for (size_t index = 0; index < kSettingCount; ++index) WriteCopy(kSettingCatalogue[index].name, snapshot.values[index]);
    return true;
}

void RemoveAppliedSettings()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppliedPolicyKeyPath);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppliedServiceKeyPath);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppliedKeyPath);
}

bool AppliedSettingsPublished()
{
    UniqueRegistryKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppliedServiceKeyPath, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}
