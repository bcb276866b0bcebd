#pragma once
// Where the service finds a setting: under the Group Policy key when that holds the value, else
// under the service's own key, each read with its own open and close. -status also reads the copy
// that the running service publishes of the values it applied, through the same rules.
#include <windows.h>

#include "configuration/setting_catalogue.h"

enum SettingsView {
    kSettingsConfigured,  // the policy key and the service key, as they are now
    kSettingsApplied,     // the copy of them that the running service published
};

// RegQueryValueExA on the first key of the view that holds the value, with its result; source
// tells which, kSourceNone with ERROR_FILE_NOT_FOUND when neither does. A name outside the
// catalogue is never read: ERROR_INVALID_PARAMETER.
LONG QuerySetting(SettingsView view, const char *name, DWORD *type, BYTE *data, DWORD *size, SettingSource *source);

// Every value of the catalogue as the view holds it.
void ReadSettingsSnapshot(SettingsView view, SettingsSnapshot *snapshot);

// The running service's copy of what it applied: volatile subkeys of the service key, so that a
// restart of Windows leaves none behind. Each value is written in place under the subkey of the key
// it came from, so that -status never finds one missing while the copy changes.
bool PublishAppliedSettings(const SettingsSnapshot &snapshot);
void RemoveAppliedSettings();

// True when the running service has published its copy.
bool AppliedSettingsPublished();
