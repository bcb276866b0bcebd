#include "health/health_monitor.h"

#include <stdio.h>
#include <string.h>

#include "health/health_checks.h"
#include "health/health_events.h"
#include "health/health_publication.h"
#include "health/health_settings.h"

// Every wait of the thread also ends at its stop event, so it ends within this limit.
const DWORD kMonitorStopLimitMs = 5000;
const SIZE_T kMonitorStackSize = 256 * 1024;
const uint64_t kFileTimeSecond = 10000000;

struct HealthMonitor {
    HealthSettings settings;
    HealthCheck checks[kHealthMaxChecks];
    char labels[kHealthMaxChecks][kHealthLabelSize];
    size_t checkCount;
    HealthEpisodes episodes;
    HealthResult repair;  // the present episode's, for a withholding taken up after a refusal
    FolderProbe *stuckProbe;
    HANDLE thread;
    HANDLE stopEvent;  // manual reset: ends the thread
    HANDLE wakeEvent;  // auto reset: the verdict changed
    volatile LONG withheld;
    volatile LONG armed;  // the timeout action and countdown the withholding names (PackArmed)
};

static HealthMonitor g_monitor;

// Milliseconds Windows has been awake: the grace counts time the server could be checked, so a
// check failing as Windows goes to sleep is not acted upon at the resume.
static uint64_t AwakeMs()
{
    ULONGLONG unbiased = 0;
    QueryUnbiasedInterruptTime(&unbiased);
    return unbiased / 10000;
}

static HealthClock Now()
{
    return {AwakeMs(), FileTimeNow()};
}

static bool Stopping()
{
    return WaitForSingleObject(g_monitor.stopEvent, 0) != WAIT_TIMEOUT;
}

static HealthResult RunCheck(const HealthCheck &check)
{
    const HealthSettings &settings = g_monitor.settings;
    switch (check.kind) {
    case kCheckCommand:
        return RunHealthCommand(settings.command, settings.commandTimeout, g_monitor.stopEvent);
    case kCheckFolder:
        return ProbeHealthFolder(&g_monitor.stuckProbe, settings.folder, settings.commandTimeout, g_monitor.stopEvent);
    case kCheckService:
        return CheckHealthService(settings.services[check.service]);
    default:
        return CheckAvailableCommit(settings.minAvailableMB);
    }
}

// False when the stop came meanwhile.
static bool RunChecks(HealthResult results[kHealthMaxChecks])
{
    for (size_t index = 0; index < g_monitor.checkCount; ++index) {
        results[index] = RunCheck(g_monitor.checks[index]);
        if (Stopping()) return false;
    }
    return true;
}

static void ReportNotes(const HealthRound &round)
{
    for (size_t index = 0; index < round.noteCount; ++index) {
        const HealthNote &note = round.notes[index];
        const char *label = g_monitor.labels[note.check];
        const HealthCause &cause = g_monitor.episodes.checks[note.check].cause;
        if (note.kind == kNoteFailed) ReportHealthCheckFailed(label, cause, g_monitor.settings.gracePeriod);
        if (note.kind == kNoteNeverPassed) ReportHealthCheckNeverPassed(label, cause);
        if (note.kind != kNotePassed) continue;
        char since[32];
        FormatLocalTime(note.failedSince, since, sizeof(since));
        ReportHealthCheckPassed(label, since);
    }
}

static void Publish()
{
    const HealthEpisodes &episodes = g_monitor.episodes;
    for (size_t index = 0; index < g_monitor.checkCount; ++index) {
        PublishCheck(index, episodes.checks[index], g_monitor.labels[index]);
    }
    PublishHeartbeats(episodes.withheld, static_cast<uint32_t>(episodes.actedCheck), episodes.withheldSince);
}

// The verdict for the heartbeat loop, which is woken to follow it at once.
static void SetWithheld(bool withheld)
{
    InterlockedExchange(&g_monitor.withheld, withheld ? 1 : 0);
    SetEvent(g_monitor.wakeEvent);
}

// One number, so that the service thread can change the settings while this thread reads them.
static LONG PackArmed(const WatchdogSettings &watchdog)
{
    return static_cast<LONG>((static_cast<uint32_t>(watchdog.timeoutAction) << 16) | watchdog.timeoutValue);
}

static void ReportWithholding(const HealthActing &acting, const HealthClock &now)
{
    uint32_t armed = static_cast<uint32_t>(InterlockedCompareExchange(&g_monitor.armed, 0, 0));
    uint8_t timeoutAction = static_cast<uint8_t>(armed >> 16);
    uint16_t timeoutValue = static_cast<uint16_t>(armed);
    WriteLastWithheld(now.fileTime);
    char latest[32];  // a heartbeat may have gone out while the round ran
    FormatLocalTime(FileTimeNow() + timeoutValue * kFileTimeSecond, latest, sizeof(latest));
    ReportHeartbeatsWithheld(acting, timeoutAction, timeoutValue, latest);
}

// The entries and the verdict of an action taken when a check's grace ended.
static void Act(const HealthRound &round, const HealthResult &repair, const HealthClock &now)
{
    char since[32], lastWithheld[32];
    FormatLocalTime(round.actedSince, since, sizeof(since));
    HealthActing acting = {g_monitor.labels[round.actedCheck], since, g_monitor.episodes.checks[round.actedCheck].cause, {}};
    DescribeRepair(g_monitor.settings.repairCommand[0] != '\0', repair, acting.repair, sizeof(acting.repair));
    switch (round.action) {
    case kActMended:
        ReportRepairMended(acting);
        break;
    case kActWithhold:
        SetWithheld(true);
        ReportWithholding(acting, now);
        break;
    case kActRefuse:
        FormatLocalTime(g_monitor.episodes.lastWithheld, lastWithheld, sizeof(lastWithheld));
        ReportWithholdingRefused(acting, lastWithheld);
        break;
    default:
        break;
    }
}

static void Resume(const HealthRound &round)
{
    SetWithheld(false);
    char since[32];
    FormatLocalTime(round.withheldSince, since, sizeof(since));
    ReportHeartbeatsResumedByHealth(since);
}

// A round of checks, and when a grace ends the repair and a second round; false when the stop came.
// A round's results count from its start, so a grace ends in the round that starts as it ends.
static bool RunRound()
{
    HealthResult results[kHealthMaxChecks];
    HealthClock now = Now();
    if (!RunChecks(results)) return false;
    HealthRound round;
    JudgeHealthRound(&g_monitor.episodes, results, now, false, &round);
    ReportNotes(round);
    HealthResult &repair = g_monitor.repair;
    if (round.action == kActRepair) {
        repair = RunRepairCommand(g_monitor.settings.repairCommand, g_monitor.settings.commandTimeout, g_monitor.stopEvent);
        now = Now();
        if (Stopping() || !RunChecks(results)) return false;
        JudgeHealthRound(&g_monitor.episodes, results, now, true, &round);
        ReportNotes(round);
    }
    if (round.action == kActResume) Resume(round);
    if (round.action != kActNone && round.action != kActResume) Act(round, repair, now);
    Publish();
    return true;
}

static DWORD WINAPI RunHealthMonitor(void *)
{
    uint64_t next = AwakeMs();
    for (;;) {
        uint64_t now = AwakeMs();
        DWORD pause = next > now ? static_cast<DWORD>(next - now) : 0;  // at most an interval of 3600 s
        if (WaitForSingleObject(g_monitor.stopEvent, pause) != WAIT_TIMEOUT) return 0;
        uint64_t start = AwakeMs();
        if (!RunRound()) return 0;
        next = NextHealthRoundTick(g_monitor.episodes, start, g_monitor.settings.checkInterval);
    }
}

static void CloseEvents()
{
    if (g_monitor.stopEvent != nullptr) CloseHandle(g_monitor.stopEvent);
    if (g_monitor.wakeEvent != nullptr) CloseHandle(g_monitor.wakeEvent);
    g_monitor.stopEvent = g_monitor.wakeEvent = nullptr;
}

static bool StartThread()
{
    g_monitor.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_monitor.wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (g_monitor.stopEvent != nullptr && g_monitor.wakeEvent != nullptr) {
        g_monitor.thread = CreateThread(nullptr, kMonitorStackSize, RunHealthMonitor, nullptr,
                                        STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (g_monitor.thread != nullptr) return true;
    DWORD error = GetLastError();
    CloseEvents();
    ReportHealthChecksNotStarted(error);
    return false;
}

void StartHealthMonitor(const WatchdogSettings &watchdog)
{
    HealthMonitor &monitor = g_monitor;
    ReadHealthSettings(&monitor.settings, true);
    monitor.checkCount = ListHealthChecks(monitor.settings, monitor.checks);
    if (monitor.checkCount == 0) return;
    InterlockedExchange(&monitor.armed, PackArmed(watchdog));
    for (size_t index = 0; index < monitor.checkCount; ++index) {
        HealthCheckLabel(monitor.settings, monitor.checks[index], monitor.labels[index], kHealthLabelSize);
    }
    BeginHealthEpisodes(&monitor.episodes, monitor.checkCount, monitor.settings.gracePeriod,
                        monitor.settings.repairCommand[0] != '\0', ReadLastWithheld());
    uint64_t started = FileTimeNow();
    for (size_t index = 0; index < monitor.checkCount; ++index) monitor.episodes.checks[index].sinceTime = started;
    monitor.withheld = 0;
    CreateHealthPublication();
    Publish();
    if (!StartThread()) RemoveHealthPublication();
}

bool HeartbeatsWithheld()
{
    return InterlockedCompareExchange(&g_monitor.withheld, 0, 0) != 0;
}

void FollowArmedWatchdog(const WatchdogSettings &watchdog)
{
    InterlockedExchange(&g_monitor.armed, PackArmed(watchdog));
}

HANDLE HealthWakeEvent()
{
    return g_monitor.wakeEvent;
}

void StopHealthMonitor()
{
    if (g_monitor.thread == nullptr) return;
    SetEvent(g_monitor.stopEvent);
    // A thread that does not end in time is left to the process's end, with what it uses.
    if (WaitForSingleObject(g_monitor.thread, kMonitorStopLimitMs) == WAIT_OBJECT_0) {
        AbandonFolderProbe(&g_monitor.stuckProbe);
        CloseEvents();
    }
    CloseHandle(g_monitor.thread);
    g_monitor.thread = nullptr;
    g_monitor.wakeEvent = nullptr;
    InterlockedExchange(&g_monitor.withheld, 0);
    RemoveHealthPublication();
}
