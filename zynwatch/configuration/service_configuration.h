#pragma once
// The service's configuration in its own registry key: written at install, loaded and repaired
// at start, the heartbeat interval read before every heartbeat. A value under the Group Policy key
// wins over the service key's; the service never writes the policy key, and tells of a policy value
// it cannot use with an entry. Nothing else here prints or fails.
#include <windows.h>

#include "configuration/service_configuration_rules.h"
#include "configuration/setting_sources.h"

// "Description" and the five numbers, each on its own; a missing key skips them.
void WriteServiceConfiguration(BYTE timeoutAction, BYTE preTimeoutAction);

// The four timeout fields, valid; invalid or missing values are repaired in the service key, and
// each repair written is noted in repairs when given. A policy value is not repaired: its entry says so.
WatchdogSettings LoadWatchdogSettings(SettingsSnapshot *repairs = nullptr);

// The four timeout fields as the service would load them, without writing anything.
WatchdogSettings PeekWatchdogSettings(SettingsView view = kSettingsConfigured);

// "ShutdownTimeout" in seconds, or 0 when the shutdown phase is off.
uint16_t ReadShutdownTimeout(SettingsView view = kSettingsConfigured);

// "HeartbeatInterval" in seconds; false with 0 when it cannot be read.
bool ReadHeartbeatInterval(DWORD *seconds, SettingsView view = kSettingsConfigured);
