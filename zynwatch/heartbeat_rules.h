#pragma once
// What the heartbeat loop decides without the BMC: the pause it uses, when a replaced interval
// is worth a warning, and when the heartbeats' health changes. Plain logic without Win32 calls,
// so it also builds and is tested natively.
#include <stdint.h>

#include "service_configuration_rules.h"

const uint32_t kRequestTimeoutSeconds = 5;     // the longest a heartbeat waits for the BMC
const uint32_t kFallbackHeartbeatSeconds = 1;  // pause when the interval is 0 or cannot be read

// Seconds from a heartbeat until the watchdog acts first: the pre-timeout interrupt when one is
// configured, otherwise the timeout; never below 0.
uint32_t WatchdogDeadlineSeconds(const WatchdogSettings &settings);

// The pause before the next heartbeat: the configured interval when it and one request's
// time-out end before the deadline, otherwise max(1, (deadline - 5) / 2); 1 s when the interval
// is 0 or was not read.
uint32_t HeartbeatIntervalInUse(uint32_t configured, bool read, const WatchdogSettings &settings);

// The interval read before the last heartbeat, to warn once per configured value.
struct IntervalWatch {
    bool seen;
    bool read;
    uint32_t configured;
};

// True when the configured interval is replaced and it is not the value read before the
// previous heartbeat (the first heartbeat counts as a change).
bool IntervalWarningDue(IntervalWatch *watch, uint32_t configured, bool read, uint32_t used);

// Heartbeats that failed in a row since the last one that succeeded.
struct HeartbeatHealth {
    uint32_t failures;
};

enum HealthChange { kHealthUnchanged, kHealthFirstFailure, kHealthRecovered };

// Notes one heartbeat's result; on recovery failures gives how many failed in a row before it.
HealthChange NoteHeartbeat(HeartbeatHealth *health, bool succeeded, uint32_t *failures);
