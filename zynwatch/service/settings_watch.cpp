#include "service/settings_watch.h"

#include <initializer_list>

#include "configuration/setting_catalogue.h"
#include "service_identity.h"

// The policy key's parents, nearest first, for a key that does not exist yet.
static const char *const kPolicyParents[] = {"SOFTWARE\\Policies\\Zynvarra", "SOFTWARE\\Policies"};

static void CloseKeys(SettingsWatch *watch)
{
    for (HKEY *key : {&watch->serviceKey, &watch->policyKey, &watch->policyParent}) {
        if (*key != nullptr) RegCloseKey(*key);
        *key = nullptr;
    }
}

// Opens the key for notices and arms one; a key that cannot be opened stays null.
static void Watch(const char *path, DWORD filter, HANDLE event, HKEY *key)
{
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY, key) != ERROR_SUCCESS) {
        *key = nullptr;
        return;
    }
    RegNotifyChangeKeyValue(*key, FALSE, filter, event, TRUE);
}

static void WatchPolicy(SettingsWatch *watch)
{
    Watch(kPolicyKeyPath, REG_NOTIFY_CHANGE_LAST_SET, watch->event, &watch->policyKey);
    for (const char *parent : kPolicyParents) {
        Watch(parent, REG_NOTIFY_CHANGE_NAME, watch->event, &watch->policyParent);
        if (watch->policyParent != nullptr) return;
    }
}

void RearmSettingsWatch(SettingsWatch *watch)
{
    // Closing a key ends its notice, which may signal the event: cleared before the new notices.
    CloseKeys(watch);
    ResetEvent(watch->event);
    Watch(kServiceKeyPath, REG_NOTIFY_CHANGE_LAST_SET, watch->event, &watch->serviceKey);
    WatchPolicy(watch);
}

bool StartSettingsWatch(SettingsWatch *watch)
{
    *watch = {};
    watch->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (watch->event == nullptr) return false;
    RearmSettingsWatch(watch);
    return true;
}

void StopSettingsWatch(SettingsWatch *watch)
{
    CloseKeys(watch);
    if (watch->event != nullptr) CloseHandle(watch->event);
    watch->event = nullptr;
}
