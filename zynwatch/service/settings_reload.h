#pragma once
// Settings that change while the service runs: both keys watched, a burst of changes applied once it
// settles, the watchdog armed again or the health checks started again as the change asks, what the
// service applied published for -status, and one entry that names what changed. Runs on the service
// thread only.
#include <windows.h>

#include "configuration/setting_catalogue.h"
#include "watchdog/watchdog_keeper.h"

// Arms the watch and takes the snapshot that what the start reads is judged against; before the
// service reads any setting, so that a change while it reads is seen as one afterwards.
void BeginSettingsReload();

// Where the start notes the repairs it writes, so that they count as no change.
SettingsSnapshot *SettingsAtStart();

// Once the start has read every setting: publishes the values it applied.
void PublishStartSettings();

// Signalled when a watched key changes; null when the watch could not be armed.
HANDLE SettingsChangeEvent();

// The event was signalled: the watch is armed again and the change waits for the burst to settle.
void NoteSettingsSignal();

// Milliseconds until settled changes are due, 0 when they are; INFINITE when none waits.
DWORD SettingsDueInMs();

struct SettingsApplied {
    bool changed;          // a value the service reads changed: the next heartbeat follows it
    bool shutdownChanged;  // ShutdownTimeout or SelEvents changed; the keeper holds the new ShutdownTimeout
};

// Applies the settled changes. heartbeatsWithheld: the watchdog's new settings wait for the next
// heartbeat, so that a re-arm never gives the withheld countdown a fresh start.
SettingsApplied ApplySettledSettings(WatchdogKeeper *keeper, bool heartbeatsWithheld);

// Closes the watch and removes what the service published.
void EndSettingsReload();
