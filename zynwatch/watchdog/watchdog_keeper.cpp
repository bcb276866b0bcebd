#include "watchdog/watchdog_keeper.h"

#include <windows.h>

#include "configuration/service_configuration.h"
#include "watchdog/watchdog.h"
#include "watchdog/watchdog_events.h"
#include "watchdog_stop_retry.h"

// A watchdog that expired since its last Set left the SMS/OS flag; the arm clears it.
static void ReportPreviousExpiry()
{
    WatchdogReading reading;
    if (ReadWatchdogTimer(&reading) && (reading.expirationFlags & kSmsOsExpirationFlag)) {
        ReportLastRestartByWatchdog(reading);
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

bool StartKeepingWatchdog(WatchdogKeeper *keeper, uint16_t shutdownTimeout)
{
    *keeper = {};
    WatchdogSettings configured = LoadWatchdogSettings();
    if (PreTimeoutLacksRoom(configured)) ReportPreTimeoutLeftOut(configured);
    keeper->settings = ArmedSettings(configured);
    keeper->settings.shutdownTimeout = shutdownTimeout;
    ReportPreviousExpiry();
    if (!ArmWatchdog(keeper->settings)) return false;
    VerifyArming(keeper->settings);
    return ResetWatchdog();
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
    return !keeper->rearmPending;
}

static bool Heartbeat(WatchdogKeeper *keeper, WatchdogOutcome *outcome)
{
    if (keeper->rearmPending) return Rearm(keeper, outcome);
    if (ResetWatchdog(outcome)) return true;
    if (outcome->error != 0 || outcome->completionCode != kCompletionCodeUninitialised) return false;
    ReportWatchdogSettingsLost(keeper->settings);
    return Rearm(keeper, outcome);
}

bool SendHeartbeat(WatchdogKeeper *keeper)
{
    WatchdogOutcome outcome = {};
    bool succeeded = Heartbeat(keeper, &outcome);
    uint32_t failures = 0;
    HealthChange change = NoteHeartbeat(&keeper->health, succeeded, &failures);
    UnwrittenHealth unwritten = {};
    if (!HealthEntryDue(&keeper->healthLog, change, GetTickCount64(), &unwritten)) return succeeded;
    if (change == kHealthFirstFailure) ReportHeartbeatFailed(outcome, unwritten);
    if (change == kHealthRecovered) ReportHeartbeatsResumed(failures, unwritten);
    return succeeded;
}

static void NothingBeforeRetry() {}

// The stop request with its retry; gives the tries and, in *last, how the last one ended.
static uint32_t StopWithRetry(void (*beforeRetry)(), bool *stopped, WatchdogOutcome *last)
{
    return RetryWatchdogStop([last] { return StopWatchdog(last); }, beforeRetry, stopped);
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
    uint32_t tries = StopWithRetry(NothingBeforeRetry, &stopped, &last);
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
