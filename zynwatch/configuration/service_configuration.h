#pragma once
// The service's configuration in its own registry key: written at install, loaded and repaired
// at start, the heartbeat interval read before every heartbeat. Nothing here prints or fails.
#include <windows.h>

#include "configuration/service_configuration_rules.h"

// "Description" and the five numbers, each on its own; a missing key skips them.
void WriteServiceConfiguration(BYTE timeoutAction, BYTE preTimeoutAction);

// The four timeout fields, valid; invalid or missing values are repaired in the registry.
WatchdogSettings LoadWatchdogSettings();

// The four timeout fields as the service would load them, without writing anything.
WatchdogSettings PeekWatchdogSettings();

// "ShutdownTimeout" in seconds, or 0 when the shutdown phase is off.
uint16_t ReadShutdownTimeout();

// "HeartbeatInterval" in seconds; false with 0 when it cannot be read.
bool ReadHeartbeatInterval(DWORD *seconds);
