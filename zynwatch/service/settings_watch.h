#pragma once
// The registry's notice that a setting may have changed: the service key's values, the Group Policy
// key's values, and the subkeys of the nearest of its parents that exists, so that the policy key's
// creation and its deletion are seen too (Wine tells a deleted key's own watchers nothing). Armed and
// re-armed on the service thread, which waits on the event: on Windows a notice registered by a
// thread ends with that thread.
#include <windows.h>

struct SettingsWatch {
    HANDLE event;  // auto reset: signalled once for the changes since the watch was armed
    HKEY serviceKey;
    HKEY policyKey;     // null while it does not exist
    HKEY policyParent;  // the nearest of its parents that exists
};

// Creates the event and arms the watch; false, with nothing held, when the event cannot be made.
bool StartSettingsWatch(SettingsWatch *watch);

// After a notice: opens the keys afresh (the policy key may have appeared or gone) and arms them
// again. A change after this call signals the event again.
void RearmSettingsWatch(SettingsWatch *watch);

void StopSettingsWatch(SettingsWatch *watch);
