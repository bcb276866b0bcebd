#pragma once
// The BMC's watchdog as the service keeps it: armed and checked at start, one heartbeat per
// pause, re-armed after a BMC reset, stopped with retries, stopped for sleep and armed again at
// resume, handed over at shutdown. Runs on the service thread only; every entry it writes goes to
// the event log.
#include <stdint.h>

#include "configuration/service_configuration_rules.h"
#include "configuration/setting_catalogue.h"
#include "watchdog/heartbeat_rules.h"
#include "watchdog/watchdog_messages.h"

struct WatchdogKeeper {
    WatchdogSettings settings;  // as armed (see ArmedSettings)
    IntervalWatch interval;
    HeartbeatHealth health;
    HealthLog healthLog;
    bool rearmPending;  // the BMC lost its settings, or Windows resumed, and a re-arm has not succeeded yet
    bool settingsPending;  // changed settings wait for the next heartbeat: a withheld countdown is left to run
    uint32_t failedHeartbeats;  // since the start, published for -status
};

// Loads the settings (noting the repairs it writes in repairs, when given), reports a watchdog
// expiry found in the BMC and a pre-timeout interrupt left out, arms, checks what the BMC stored
// and starts the countdown. False when the arm or the first reset failed.
bool StartKeepingWatchdog(WatchdogKeeper *keeper, uint16_t shutdownTimeout, SettingsSnapshot *repairs = nullptr);

// The timeout values changed while the service runs: loads them as at start (noting its repairs in
// repairs) and, when the settings to arm differ from those armed, arms the watchdog with them and
// starts its countdown afresh, at once or, without armNow, with the next heartbeat; a re-arm that
// fails is tried again with each heartbeat. True when the armed settings changed.
bool ApplyWatchdogSettings(WatchdogKeeper *keeper, SettingsSnapshot *repairs, bool armNow);

// Reads the interval and gives the pause before the next heartbeat, in seconds.
uint32_t NextHeartbeatPause(WatchdogKeeper *keeper);

// One heartbeat, with the re-arm of a BMC that answers 0x80 and the health entries; true when
// it reached the BMC. Failures that last are told at once, with when the BMC acts.
bool SendHeartbeat(WatchdogKeeper *keeper);

// In place of a heartbeat while the heartbeats are withheld: the watchdog must still count down to
// the BMC's action. Reads it with Get Watchdog Timer and arms and starts it again when it lost its
// settings or was stopped, and after a resume; the BMC then acts TimeoutValue seconds later.
void KeepWithheldWatchdog(WatchdogKeeper *keeper);

// Stops the watchdog, trying again for about 10 s and at least three times in all, with
// beforeRetry called before each retry. False, with an error entry, when every try failed.
bool StopKeptWatchdog(const WatchdogKeeper *keeper, void (*beforeRetry)());

// Windows goes to sleep: stops the watchdog with the stop's retry, at short pauses while Windows
// waits, and writes an entry either way.
void SuspendKeptWatchdog(const WatchdogKeeper *keeper);

// Windows resumed: writes an entry; the next heartbeat, due at once, arms the watchdog again.
void ResumeKeptWatchdog(WatchdogKeeper *keeper);

// Arms the watchdog again with the settings it keeps and starts the countdown, as after a BMC
// reset; false, with the re-arm left to the next heartbeat, when either request failed.
bool RearmKeptWatchdog(WatchdogKeeper *keeper, WatchdogOutcome *outcome);

// Gives the watchdog the shutdown countdown instead of stopping it.
void HandOverToShutdown(const WatchdogKeeper *keeper);

const uint32_t kStopRetryWaitHintMs = 10000;  // the pause and one request of at most 6 s, with room
// StartKeepingWatchdog's four requests (Get, Set, Get, Reset) of at most 6 s each, with room: the
// start stays pending that long at most.
const uint32_t kKeeperStartWaitHintMs = 30000;
