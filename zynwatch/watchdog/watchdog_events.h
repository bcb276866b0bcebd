#pragma once
// The entries the service writes about the watchdog beside its error entries; each has its own
// identifier and text in the message table.
#include <stdint.h>

#include "configuration/service_configuration_rules.h"
#include "watchdog/heartbeat_rules.h"
#include "watchdog/watchdog_messages.h"

// A heartbeat found the BMC's watchdog uninitialised (0x80): it is armed again.
void ReportWatchdogSettingsLost(const WatchdogSettings &settings);

// Every stop request failed: the timer may still run.
void ReportWatchdogStillArmed(uint32_t tries, const WatchdogOutcome &last, const WatchdogSettings &settings);

// The configured interval cannot keep the timer from expiring; used replaces it.
void ReportHeartbeatIntervalReplaced(uint32_t configured, uint32_t used, uint32_t deadline);

// The first failed heartbeat after one that succeeded, with the health entries left unwritten before it.
void ReportHeartbeatFailed(const WatchdogOutcome &outcome, const UnwrittenHealth &unwritten);

// Heartbeats have failed for failingSeconds: the BMC's countdown runs out in secondsLeft.
void ReportHeartbeatsFailing(uint32_t failingSeconds, const WatchdogOutcome &last, uint32_t secondsLeft,
                             const WatchdogSettings &settings);

// The heartbeats are withheld, and the watchdog was found stopped without having expired: armed again.
void ReportWithheldWatchdogRearmed(const WatchdogSettings &settings);

// The first heartbeat that succeeded after failures, with the health entries left unwritten before it.
void ReportHeartbeatsResumed(uint32_t failures, const UnwrittenHealth &unwritten);

// The configured pre-timeout interrupt lacks room and is not armed.
void ReportPreTimeoutLeftOut(const WatchdogSettings &configured);

// Windows goes to sleep: the watchdog was stopped, or every stop request failed.
void ReportSuspendStoppedWatchdog();
void ReportSuspendLeftWatchdogRunning(uint32_t tries, const WatchdogOutcome &last, const WatchdogSettings &settings);

// Windows resumed: the watchdog is armed again with the next heartbeat.
void ReportResumeRearmsWatchdog(const WatchdogSettings &settings);

// The BMC's SMS/OS expiration flag was set when the service started.
void ReportLastRestartByWatchdog(const WatchdogReading &reading);

// The BMC stored one field of the arm otherwise.
void ReportWatchdogSettingDiffers(const ArmedFieldDifference &difference);

// Shutdown: the watchdog took the shutdown countdown, or refused it.
void ReportShutdownPhase(uint16_t seconds, const WatchdogSettings &settings);
void ReportShutdownPhaseRefused(const WatchdogOutcome &outcome, const WatchdogSettings &settings);
