#include "watchdog/watchdog_keeper.h"

#include <windows.h>

#include "configuration/service_configuration.h"
#include "watchdog/watchdog.h"
#include "watchdog/watchdog_events.h"
#include "watchdog/watchdog_publication.h"
#include "watchdog_stop_retry.h"

static uint64_t FileTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// A watchdog that expired since its last Set left the SMS/OS flag; the arm clears it, so the moment
// it was found is kept for the monitoring formats.
static void ReportPreviousExpiry()
{
    WatchdogReading reading;
    if (ReadWatchdogTimer(&reading) && (reading.expirationFlags & kSmsOsExpirationFlag)) {
        ReportLastRestartByWatchdog(reading);
        WriteWatchdogExpiryFound(FileTimeNow());
    }
}

static void VerifyArming(const WatchdogSettings &settings)
{
    WatchdogReading stored;
    if (!ReadWatchdogTimer(&stored)) return;
    uint8_t arm[kSetWatchdogMessageLength];
    BuildArmMessage(settings, arm);
    ArmedFieldDifference differences[kArmedFieldCount];
    size_t count = CompareWithArmMessage(arm, stored, differences);
    for (size_t i = 0; i < count; ++i) ReportWatchdogSettingDiffers(differences[i]);
}

bool StartKeepingWatchdog(WatchdogKeeper *keeper, uint16_t shutdownTimeout, SettingsSnapshot *repairs)
{
    *keeper = {};
    PublishHeartbeatFailures(0, 0);
    WatchdogSettings configured = LoadWatchdogSettings(repairs);
    if (PreTimeoutLacksRoom(configured)) ReportPreTimeoutLeftOut(configured);
    keeper->settings = ArmedSettings(configured);
    keeper->settings.shutdownTimeout = shutdownTimeout;
    ReportPreviousExpiry();
    if (!ArmWatchdog(keeper->settings)) return false;
    VerifyArming(keeper->settings);
    if (!ResetWatchdog()) return false;
    keeper->health.lastSuccessMs = GetTickCount64();
    return true;
}

uint32_t NextHeartbeatPause(WatchdogKeeper *keeper)
{
    DWORD configured = 0;
    bool read = ReadHeartbeatInterval(&configured);
    uint32_t used = HeartbeatIntervalInUse(configured, read, keeper->settings);
    if (IntervalWarningDue(&keeper->interval, configured, read, used)) {
        ReportHeartbeatIntervalReplaced(configured, used, WatchdogDeadlineSeconds(keeper->settings));
    }
    return used;
}

// The requests of the start again: Set Watchdog Timer, then Reset Watchdog Timer.
static bool Rearm(WatchdogKeeper *keeper, WatchdogOutcome *outcome)
{
    keeper->rearmPending = !(ArmWatchdog(keeper->settings, outcome) && ResetWatchdog(outcome));
    if (!keeper->rearmPending) keeper->settingsPending = false;
    return !keeper->rearmPending;
}

static bool Heartbeat(WatchdogKeeper *keeper, WatchdogOutcome *outcome)
{
    if (keeper->rearmPending || keeper->settingsPending) return Rearm(keeper, outcome);
    if (ResetWatchdog(outcome)) return true;
    if (outcome->error != 0 || outcome->completionCode != kCompletionCodeUninitialised) return false;
    ReportWatchdogSettingsLost(keeper->settings);
    return Rearm(keeper, outcome);
}

static bool SameArmedSettings(const WatchdogSettings &a, const WatchdogSettings &b)
{
    return a.timeoutAction == b.timeoutAction && a.preTimeoutAction == b.preTimeoutAction &&
           a.timeoutValue == b.timeoutValue && a.preTimeoutInterval == b.preTimeoutInterval;
}

bool ApplyWatchdogSettings(WatchdogKeeper *keeper, SettingsSnapshot *repairs, bool armNow)
{
    WatchdogSettings configured = LoadWatchdogSettings(repairs);
    WatchdogSettings armed = ArmedSettings(configured);
    armed.shutdownTimeout = keeper->settings.shutdownTimeout;
    if (SameArmedSettings(armed, keeper->settings)) return false;
    if (PreTimeoutLacksRoom(configured)) ReportPreTimeoutLeftOut(configured);
    keeper->settings = armed;
    keeper->interval = {};  // the deadline changed: a replaced interval is worth its warning again
    if (!armNow) {
        keeper->settingsPending = true;
        return true;
    }
    WatchdogOutcome outcome = {};
    if (Rearm(keeper, &outcome)) VerifyArming(keeper->settings);
    return true;
}

// The counts change only with a failure or a recovery, so a heartbeat that succeeds writes nothing.
static void PublishFailures(WatchdogKeeper *keeper, bool succeeded, HealthChange change)
{
    if (!succeeded) ++keeper->failedHeartbeats;
    if (!succeeded || change == kHealthRecovered) {
        PublishHeartbeatFailures(keeper->failedHeartbeats, keeper->health.failures);
    }
}

// Heartbeats that keep failing are told at once, whatever the hourly limit: the BMC acts soon.
static void ReportLastingFailure(WatchdogKeeper *keeper, const WatchdogOutcome &outcome, uint64_t nowMs)
{
    if (!LastingFailureDue(&keeper->health, keeper->settings, nowMs)) return;
    uint32_t failingSeconds = static_cast<uint32_t>((nowMs - keeper->health.failingSinceMs) / 1000);
    ReportHeartbeatsFailing(failingSeconds, outcome, SecondsUntilTimeout(keeper->health, keeper->settings, nowMs),
                            keeper->settings);
}

bool SendHeartbeat(WatchdogKeeper *keeper)
{
    WatchdogOutcome outcome = {};
    bool succeeded = Heartbeat(keeper, &outcome);
    uint64_t now = GetTickCount64();
    bool wasLasting = keeper->health.lastingReported;
    uint32_t failures = 0;
    HealthChange change = NoteHeartbeat(&keeper->health, succeeded, now, &failures);
    PublishFailures(keeper, succeeded, change);
    ReportLastingFailure(keeper, outcome, now);
    UnwrittenHealth unwritten = {};
    // The end of a failure told as lasting is told as well.
    if (!HealthEntryDue(&keeper->healthLog, change, now, &unwritten, wasLasting)) return succeeded;
    if (change == kHealthFirstFailure) ReportHeartbeatFailed(outcome, unwritten);
    if (change == kHealthRecovered) ReportHeartbeatsResumed(failures, unwritten);
    return succeeded;
}

void KeepWithheldWatchdog(WatchdogKeeper *keeper)
{
    if (!keeper->rearmPending) {
        WatchdogReading reading;
        if (!ReadWatchdogTimer(&reading) || !WithheldTimerNeedsRearm(reading)) return;
        ReportWithheldWatchdogRearmed(keeper->settings);
    }
    WatchdogOutcome outcome = {};
    if (Rearm(keeper, &outcome)) keeper->health.lastSuccessMs = GetTickCount64();
}

static void NothingBeforeRetry() {}

// The stop request with its retry at pauses of pauseMs; gives the tries and, in *last, how the
// last one ended.
static uint32_t StopWithRetry(void (*beforeRetry)(), bool *stopped, WatchdogOutcome *last,
                              uint32_t (*pauseMs)(uint64_t) = StopRetryPauseMs)
{
    return RetryWatchdogStop([last] { return StopWatchdog(last); }, beforeRetry, stopped, pauseMs);
}

bool StopKeptWatchdog(const WatchdogKeeper *keeper, void (*beforeRetry)())
{
    bool stopped = false;
    WatchdogOutcome last = {};
    uint32_t tries = StopWithRetry(beforeRetry, &stopped, &last);
    if (!stopped) ReportWatchdogStillArmed(tries, last, keeper->settings);
    return stopped;
}

void SuspendKeptWatchdog(const WatchdogKeeper *keeper)
{
    bool stopped = false;
    WatchdogOutcome last = {};
    uint32_t tries = StopWithRetry(NothingBeforeRetry, &stopped, &last, SuspendStopPauseMs);
    if (stopped) {
        ReportSuspendStoppedWatchdog();
    } else {
        ReportSuspendLeftWatchdogRunning(tries, last, keeper->settings);
    }
}

void ResumeKeptWatchdog(WatchdogKeeper *keeper)
{
    keeper->rearmPending = true;
    ReportResumeRearmsWatchdog(keeper->settings);
}

bool RearmKeptWatchdog(WatchdogKeeper *keeper, WatchdogOutcome *outcome)
{
    return Rearm(keeper, outcome);
}

void HandOverToShutdown(const WatchdogKeeper *keeper)
{
    const WatchdogSettings &settings = keeper->settings;
    WatchdogOutcome outcome = {};
    if (!ArmShutdownWatchdog(settings, settings.shutdownTimeout, &outcome)) {
        ReportShutdownPhaseRefused(outcome, settings);
        return;
    }
    // The don't-stop bit kept a running timer going; the reset also starts one that had stopped.
    ResetWatchdog();
    ReportShutdownPhase(settings.shutdownTimeout, settings);
}
