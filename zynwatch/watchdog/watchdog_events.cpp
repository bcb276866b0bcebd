#include "watchdog/watchdog_events.h"

#include <windows.h>

#include <stdio.h>

#include "events/service_event_log.h"
#include "service_messages.h"
#include "watchdog/watchdog_names.h"

const size_t kInsertionSize = 64;

static void Number(uint32_t value, char text[kInsertionSize])
{
    snprintf(text, kInsertionSize, "%lu", static_cast<unsigned long>(value));
}

void ReportWatchdogSettingsLost(const WatchdogSettings &settings)
{
    char seconds[kInsertionSize];
    Number(settings.timeoutValue, seconds);
    const char *strings[2] = {seconds, TimeoutActionName(settings.timeoutAction)};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_WATCHDOG_SETTINGS_LOST, 2, strings);
}

// An entry about stop requests that all failed: their number, the last one's cause, and what the
// BMC does when the timer runs out.
static void WriteStopFailure(DWORD eventId, uint32_t tries, const WatchdogOutcome &last, const WatchdogSettings &settings)
{
    char count[kInsertionSize], cause[kInsertionSize], seconds[kInsertionSize];
    Number(tries, count);
    DescribeOutcome(last, cause, sizeof(cause));
    Number(settings.timeoutValue, seconds);
    const char *strings[4] = {count, cause, TimeoutActionName(settings.timeoutAction), seconds};
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, eventId, 4, strings);
}

void ReportWatchdogStillArmed(uint32_t tries, const WatchdogOutcome &last, const WatchdogSettings &settings)
{
    WriteStopFailure(MSG_WATCHDOG_STILL_ARMED, tries, last, settings);
}

void ReportHeartbeatIntervalReplaced(uint32_t configured, uint32_t used, uint32_t deadline)
{
    char configuredText[kInsertionSize], usedText[kInsertionSize], deadlineText[kInsertionSize];
    Number(configured, configuredText);
    Number(used, usedText);
    Number(deadline, deadlineText);
    const char *strings[3] = {configuredText, usedText, deadlineText};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_INTERVAL_REPLACED, 3, strings);
}

// A health entry: its own text alone, or the text that also counts the entries left unwritten.
static void WriteHealthEvent(WORD type, DWORD plainId, DWORD countingId, const char *first,
                             const UnwrittenHealth &unwritten)
{
    char failures[kInsertionSize], recoveries[kInsertionSize];
    Number(unwritten.failures, failures);
    Number(unwritten.recoveries, recoveries);
    const char *strings[3] = {first, failures, recoveries};
    bool counting = unwritten.failures != 0 || unwritten.recoveries != 0;
    WriteServiceEvent(type, counting ? countingId : plainId, counting ? 3 : 1, strings);
}

void ReportHeartbeatFailed(const WatchdogOutcome &outcome, const UnwrittenHealth &unwritten)
{
    char cause[kInsertionSize];
    DescribeOutcome(outcome, cause, sizeof(cause));
    WriteHealthEvent(EVENTLOG_WARNING_TYPE, MSG_HEARTBEAT_FAILED, MSG_HEARTBEAT_FAILED_COUNTING, cause, unwritten);
}

// The local time seconds from now, as "2026-12-08 16:26:03".
static void LocalTimeIn(uint32_t seconds, char text[kInsertionSize])
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER then = {{now.dwLowDateTime, now.dwHighDateTime}};
    then.QuadPart += static_cast<ULONGLONG>(seconds) * 10000000;
    FILETIME utc = {then.LowPart, then.HighPart};
    SYSTEMTIME universal = {}, local = {};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        local = universal;
    }
    snprintf(text, kInsertionSize, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
             local.wMinute, local.wSecond);
}

void ReportHeartbeatsFailing(uint32_t failingSeconds, const WatchdogOutcome &last, uint32_t secondsLeft,
                             const WatchdogSettings &settings)
{
    char failing[kInsertionSize], cause[kInsertionSize], at[kInsertionSize], left[kInsertionSize];
    Number(failingSeconds, failing);
    DescribeOutcome(last, cause, sizeof(cause));
    LocalTimeIn(secondsLeft, at);
    Number(secondsLeft, left);
    const char *strings[5] = {failing, cause, TimeoutActionName(settings.timeoutAction), at, left};
    WriteServiceEvent(EVENTLOG_ERROR_TYPE, MSG_HEARTBEATS_FAILING, 5, strings);
}

void ReportWithheldWatchdogRearmed(const WatchdogSettings &settings)
{
    char seconds[kInsertionSize];
    Number(settings.timeoutValue, seconds);
    const char *strings[2] = {seconds, TimeoutActionName(settings.timeoutAction)};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_WITHHELD_WATCHDOG_REARMED, 2, strings);
}

void ReportHeartbeatsResumed(uint32_t failures, const UnwrittenHealth &unwritten)
{
    char count[kInsertionSize];
    Number(failures, count);
    WriteHealthEvent(EVENTLOG_INFORMATION_TYPE, MSG_HEARTBEATS_RESUMED, MSG_HEARTBEATS_RESUMED_COUNTING, count,
                     unwritten);
}

void ReportPreTimeoutLeftOut(const WatchdogSettings &configured)
{
    char interrupt[kInsertionSize], interval[kInsertionSize], timeout[kInsertionSize];
    snprintf(interrupt, sizeof(interrupt), "%s (%u)", PreTimeoutInterruptName(configured.preTimeoutAction),
             static_cast<unsigned>(configured.preTimeoutAction));
    Number(configured.preTimeoutInterval, interval);
    Number(configured.timeoutValue, timeout);
    const char *strings[3] = {interrupt, interval, timeout};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_PRETIMEOUT_LEFT_OUT, 3, strings);
}

void ReportSuspendStoppedWatchdog()
{
    WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_SLEEP_WATCHDOG_STOPPED, 0, nullptr);
}

void ReportSuspendLeftWatchdogRunning(uint32_t tries, const WatchdogOutcome &last, const WatchdogSettings &settings)
{
    WriteStopFailure(MSG_SLEEP_WATCHDOG_RUNNING, tries, last, settings);
}

void ReportResumeRearmsWatchdog(const WatchdogSettings &settings)
{
    char seconds[kInsertionSize];
    Number(settings.timeoutValue, seconds);
    const char *strings[2] = {seconds, TimeoutActionName(settings.timeoutAction)};
    WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_RESUME_REARMS_WATCHDOG, 2, strings);
}

void ReportLastRestartByWatchdog(const WatchdogReading &reading)
{
    char use[kInsertionSize];
    uint8_t timerUse = ReadingTimerUse(reading);
    snprintf(use, sizeof(use), "%s (%u)", TimerUseName(timerUse), static_cast<unsigned>(timerUse));
    const char *strings[2] = {use, TimeoutActionName(ReadingTimeoutAction(reading))};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_LAST_RESTART_BY_WATCHDOG, 2, strings);
}

// A field's value as an administrator reads it: countdowns in seconds, bytes in hexadecimal.
static void FieldValue(ArmedField field, uint32_t value, char text[kInsertionSize])
{
    if (field == kArmedInitialCountdown) {
        FormatCountdown(static_cast<uint16_t>(value), text, kInsertionSize);
    } else if (field == kArmedPreTimeoutInterval) {
        snprintf(text, kInsertionSize, "%lu s", static_cast<unsigned long>(value));
    } else {
        snprintf(text, kInsertionSize, "0x%02lX", static_cast<unsigned long>(value));
    }
}

void ReportWatchdogSettingDiffers(const ArmedFieldDifference &difference)
{
    static const char *const kFieldNames[kArmedFieldCount] = {"timer use", "timer actions",
                                                              "pre-timeout interval", "initial countdown"};
    char set[kInsertionSize], stored[kInsertionSize];
    FieldValue(difference.field, difference.set, set);
    FieldValue(difference.field, difference.stored, stored);
    const char *strings[3] = {kFieldNames[difference.field], set, stored};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_WATCHDOG_SETTING_DIFFERS, 3, strings);
}

void ReportShutdownPhase(uint16_t seconds, const WatchdogSettings &settings)
{
    char countdown[kInsertionSize];
    Number(seconds, countdown);
    const char *strings[2] = {countdown, TimeoutActionName(settings.timeoutAction)};
    WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, MSG_SHUTDOWN_PHASE, 2, strings);
}

void ReportShutdownPhaseRefused(const WatchdogOutcome &outcome, const WatchdogSettings &settings)
{
    char cause[kInsertionSize], seconds[kInsertionSize];
    DescribeOutcome(outcome, cause, sizeof(cause));
    Number(settings.timeoutValue, seconds);
    const char *strings[2] = {cause, seconds};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, MSG_SHUTDOWN_PHASE_REFUSED, 2, strings);
}
