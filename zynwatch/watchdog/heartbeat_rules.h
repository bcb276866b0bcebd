#pragma once
// What the heartbeat loop decides without the BMC: the settings it arms, the pause it uses, when a
// replaced interval is worth a warning, and when the heartbeats' health changes and is written.
// Plain logic without Win32 calls, so it also builds and is tested natively.
#include <stdint.h>

#include "configuration/service_configuration_rules.h"
#include "watchdog/watchdog_messages.h"
#include "watchdog_stop.h"

const uint32_t kRequestTimeoutSeconds = 5;     // the longest a heartbeat waits for the BMC
const uint32_t kFallbackHeartbeatSeconds = 1;  // pause when the interval is 0 or cannot be read
const uint32_t kRetryPauseSeconds = 2;         // pause after a heartbeat that failed
const uint32_t kPreTimeoutRoomSeconds = 30;    // least time from a heartbeat to the pre-timeout interrupt
const uint64_t kLastingFailureMostMs = 30000;  // heartbeats failing this long tell at once

// True when a configured pre-timeout interrupt cannot be armed: it would fire less than 30 s after
// a heartbeat, or the BMC would refuse its interval as not shorter than the timeout.
bool PreTimeoutLacksRoom(const WatchdogSettings &configured);

// The settings the service arms and keeps by: the configured ones, without the pre-timeout
// interrupt when it lacks room; without an interrupt the pre-timeout interval is 0.
WatchdogSettings ArmedSettings(const WatchdogSettings &configured);

// Seconds from a heartbeat until the watchdog acts first: the pre-timeout interrupt when one is
// configured, otherwise the timeout; never below 0.
uint32_t WatchdogDeadlineSeconds(const WatchdogSettings &settings);

// The pause before the next heartbeat: the configured interval when it and one request's
// time-out end before the deadline, otherwise max(1, (deadline - 5) / 2); 1 s when the interval
// is 0 or was not read.
uint32_t HeartbeatIntervalInUse(uint32_t configured, bool read, const WatchdogSettings &settings);

// The pause after a heartbeat: the interval in use after one that succeeded, the retry pace (never
// longer than that interval) after one that failed.
uint32_t PauseAfterHeartbeat(uint32_t intervalInUse, bool succeeded);

// The interval read before the last heartbeat, to warn once per configured value.
struct IntervalWatch {
    bool seen;
    bool read;
    uint32_t configured;
};

// True when the configured interval is replaced and it is not the value read before the
// previous heartbeat (the first heartbeat counts as a change).
bool IntervalWarningDue(IntervalWatch *watch, uint32_t configured, bool read, uint32_t used);

// Windows sleeps about two seconds after it told of a suspend, whatever its services still do: the
// control handler waits at most 1.5 s for the stop, and within that time a refused stop is tried
// again every 100 ms, so one busy answer costs a tenth of a second and not the sleep's protection.
const uint64_t kSuspendStopWindowMs = 1500;
const uint32_t kSuspendStopPauseMs = 100;

// The pause before the next try of a suspend's stop, the first elapsedMs ago: short within the
// window, the stop's usual pace after it.
uint32_t SuspendStopPauseMs(uint64_t elapsedMs);

// Heartbeats that failed in a row since the last one that succeeded, and when (a steady clock in
// milliseconds) the last succeeded and the failures began.
struct HeartbeatHealth {
    uint32_t failures;
    uint64_t lastSuccessMs;
    uint64_t failingSinceMs;
    bool lastingReported;  // this run of failures has its lasting failure's entry
};

enum HealthChange { kHealthUnchanged, kHealthFirstFailure, kHealthRecovered };

// Notes one heartbeat's result at nowMs; on recovery failures gives how many failed in a row before it.
HealthChange NoteHeartbeat(HeartbeatHealth *health, bool succeeded, uint64_t nowMs, uint32_t *failures);

// How long heartbeats fail before the failure counts as lasting: a third of the deadline, or 30 s,
// whichever is shorter. A flap is over well within it; a lasting failure leaves the BMC acting soon.
uint64_t LastingFailureMs(const WatchdogSettings &settings);

// True once per run of failures, when it has lasted LastingFailureMs by nowMs: its entry is written
// whatever the hourly limit.
bool LastingFailureDue(HeartbeatHealth *health, const WatchdogSettings &settings, uint64_t nowMs);

// Seconds until the BMC's countdown, started by the last heartbeat that succeeded, runs out; 0 when
// it has.
uint32_t SecondsUntilTimeout(const HeartbeatHealth &health, const WatchdogSettings &settings, uint64_t nowMs);

// The health entries written: at most one failure warning and one recovery entry an hour; the
// changes left unwritten are counted for the next entry that is written.
struct HealthLog {
    bool failureWritten;
    uint64_t failureWrittenMs;
    bool recoveryWritten;
    uint64_t recoveryWrittenMs;
    uint32_t unwrittenFailures;
    uint32_t unwrittenRecoveries;
};

const uint64_t kHealthEntryPeriodMs = 3600000;  // one hour

// The changes not written before the entry that is now due.
struct UnwrittenHealth {
    uint32_t failures;
    uint32_t recoveries;
};

// Whether the entry of a change at nowMs (a steady clock in milliseconds) is written; when it is,
// unwritten gives the changes left out since the last entry written. With forced (the recovery
// from a lasting failure) it is written whatever the hourly limit.
bool HealthEntryDue(HealthLog *log, HealthChange change, uint64_t nowMs, UnwrittenHealth *unwritten,
                    bool forced = false);

// While the heartbeats are withheld: a timer found stopped that did not expire lost its settings or
// was stopped by someone else, and no longer guards the server judged hung. One that counts down,
// or whose SMS/OS expiration flag says the BMC has acted, is left alone.
bool WithheldTimerNeedsRearm(const WatchdogReading &reading);
