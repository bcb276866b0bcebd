#include "service/service_runtime.h"

#include <initializer_list>

#include "configuration/service_configuration.h"
#include "drill/drill_service.h"
#include "events/service_event_log.h"
#include "guards.h"
#include "health/health_monitor.h"
#include "service/settings_reload.h"
#include "sel/os_events.h"
#include "service_identity.h"
#include "watchdog/watchdog_keeper.h"
#include "watchdog/watchdog_publication.h"

const DWORD kStartWaitHint = 3000;
const DWORD kSuspendWaitMs = 1500;  // within the two seconds Windows gives a suspend notice
const DWORD kSuspendPollMs = 10;

enum PowerChange { kPowerNone, kPowerSuspend, kPowerResume };

struct ServiceState {
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS status;
    DWORD nextCheckPoint;
    ServiceOutcome outcome;
    HANDLE stopEvent;
    HANDLE powerEvent;        // auto-reset: powerChange holds a change for the service thread
    PowerChange powerChange;  // the latest power change not yet taken
    bool suspendHandled;      // the service thread has stopped the watchdog for the latest suspend
    bool acceptPreshutdown;   // "ShutdownTimeout" is set: the shutdown phase is on
    bool shutdownRequested;   // the stop event was set by the preshutdown control
    bool acceptShutdown;      // the shutdown control is accepted, for the BMC's log
    bool systemShutdown;      // the stop event was set by the shutdown control
    // Held while a report is filled in and sent, and around the other fields, so the control
    // handler's thread and the service thread never interleave.
    CRITICAL_SECTION lock;
};

static ServiceState g_service = {nullptr, {}, 1, {}, nullptr, nullptr, kPowerNone, false, false, false, false, false, {}};

// The two events the service thread waits on.
struct ServiceEvents {
    HANDLE stop;
    HANDLE power;
};

void InitializeServiceState()
{
    InitializeCriticalSection(&g_service.lock);
    InitializeDrillControls();
}

static void NoteReportFailure(DWORD error)
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.outcome.reportFailure = error;
}

static void NoteStartFailure()
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.outcome.startFailed = true;
}

static void NoteTimerLeftRunning()
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.outcome.timerLeftRunning = true;
}

static DWORD ExitCode()
{
    CriticalSectionLock lock(&g_service.lock);
    return ServiceExitCode(g_service.outcome);
}

// Fills the record by the reporting rules; the caller holds the lock.
static void FillStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    SERVICE_STATUS &status = g_service.status;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = waitHint;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (state == SERVICE_RUNNING) status.dwControlsAccepted = kRunningControls;
    if (state == SERVICE_RUNNING && g_service.acceptPreshutdown) status.dwControlsAccepted |= SERVICE_ACCEPT_PRESHUTDOWN;
    if (state == SERVICE_RUNNING && g_service.acceptShutdown) status.dwControlsAccepted |= SERVICE_ACCEPT_SHUTDOWN;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
        status.dwCheckPoint = 0;
    } else {
        status.dwCheckPoint = g_service.nextCheckPoint++;
    }
}

static BOOL SendStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    CriticalSectionLock lock(&g_service.lock);
    FillStatus(state, exitCode, waitHint);
    return SetServiceStatus(g_service.statusHandle, &g_service.status);
}

void LogServiceError(const char *message)
{
    WriteServiceErrorEntry(GetLastError(), message);
}

// A report that failed: its error is noted for the final exit code and written to the log.
static void LogReportFailure()
{
    NoteReportFailure(GetLastError());
    LogServiceError("SetServiceStatus");
}

BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    BOOL reported = SendStatus(state, exitCode, waitHint);
    if (!reported) LogReportFailure();
    return reported;
}

void SignalServiceStop()
{
    CriticalSectionLock lock(&g_service.lock);
    if (g_service.stopEvent != nullptr) SetEvent(g_service.stopEvent);
}

// Reports a stop or preshutdown control as stop pending; a service that has already stopped
// stays stopped.
static BOOL ReportStopControl(bool shutdown)
{
    CriticalSectionLock lock(&g_service.lock);
    if (g_service.status.dwCurrentState == SERVICE_STOPPED) return TRUE;
    if (shutdown) g_service.shutdownRequested = true;
    FillStatus(SERVICE_STOP_PENDING, NO_ERROR, shutdown ? kShutdownWaitHint : 0);
    return SetServiceStatus(g_service.statusHandle, &g_service.status);
}

static bool ShutdownRequested()
{
    CriticalSectionLock lock(&g_service.lock);
    return g_service.shutdownRequested;
}

static void AcceptPreshutdown(bool accept)
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.acceptPreshutdown = accept;
}

static void AcceptShutdown(bool accept)
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.acceptShutdown = accept;
}

static void NoteSystemShutdown()
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.systemShutdown = true;
}

static bool SystemShutdown()
{
    CriticalSectionLock lock(&g_service.lock);
    return g_service.systemShutdown;
}

// Reports the present state again, keeping the exit code it was reported with.
static BOOL ReportCurrentState()
{
    CriticalSectionLock lock(&g_service.lock);
    FillStatus(g_service.status.dwCurrentState, g_service.status.dwWin32ExitCode, 0);
    return SetServiceStatus(g_service.statusHandle, &g_service.status);
}

static PowerChange PowerChangeOf(DWORD eventType)
{
    if (eventType == PBT_APMSUSPEND) return kPowerSuspend;
    if (eventType == PBT_APMRESUMEAUTOMATIC || eventType == PBT_APMRESUMESUSPEND) return kPowerResume;
    return kPowerNone;
}

// Hands the change to the service thread; false when the service thread no longer takes any.
static bool SignalPowerChange(PowerChange change)
{
    CriticalSectionLock lock(&g_service.lock);
    if (g_service.powerEvent == nullptr) return false;
    g_service.powerChange = change;
    g_service.suspendHandled = false;
    SetEvent(g_service.powerEvent);
    return true;
}

static bool SuspendHandled()
{
    CriticalSectionLock lock(&g_service.lock);
    return g_service.suspendHandled || g_service.powerEvent == nullptr;
}

// Windows may suspend as soon as the handler returns, so a suspend waits, bounded, until the
// service thread has dealt with the watchdog.
static void SignalPowerEvent(DWORD eventType)
{
    PowerChange change = PowerChangeOf(eventType);
    if (change == kPowerNone || !SignalPowerChange(change) || change != kPowerSuspend) return;
    for (DWORD waited = 0; waited < kSuspendWaitMs && !SuspendHandled(); waited += kSuspendPollMs) {
        Sleep(kSuspendPollMs);
    }
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, void *eventData, void *context)
{
    (void)eventData;
    (void)context;
    if (control == SERVICE_CONTROL_SHUTDOWN) NoteSystemShutdown();
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_PRESHUTDOWN || control == SERVICE_CONTROL_SHUTDOWN) {
        if (!ReportStopControl(control == SERVICE_CONTROL_PRESHUTDOWN)) LogReportFailure();
        SignalServiceStop();
    } else if (control == SERVICE_CONTROL_POWEREVENT) {
        SignalPowerEvent(eventType);
    } else if (IsDrillControl(control)) {
        SignalDrillControl(control);
        if (!ReportCurrentState()) LogReportFailure();
    } else if (!ReportCurrentState()) {
        LogReportFailure();
    }
    return NO_ERROR;
}

static PowerChange TakePowerChange()
{
    CriticalSectionLock lock(&g_service.lock);
    PowerChange change = g_service.powerChange;
    g_service.powerChange = kPowerNone;
    return change;
}

static void MarkSuspendHandled()
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.suspendHandled = true;
}

enum WaitEnd { kWaitElapsed, kWaitStop, kWaitPower, kWaitSettings, kWaitDrill, kWaitHealth };

// A failed wait counts as elapsed: the next pass follows at once.
static WaitEnd WaitForStopOrPower(const ServiceEvents &events, DWORD milliseconds)
{
    HANDLE handles[5] = {events.stop, events.power};
    DWORD count = 2;
    HANDLE settings = SettingsChangeEvent(), drill = DrillRequestEvent(), health = HealthWakeEvent();
    DWORD settingsIndex = settings != nullptr ? count : MAXIMUM_WAIT_OBJECTS;
    if (settings != nullptr) handles[count++] = settings;
    DWORD drillIndex = drill != nullptr ? count : MAXIMUM_WAIT_OBJECTS;
    if (drill != nullptr) handles[count++] = drill;
    if (health != nullptr) handles[count++] = health;
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, milliseconds);
    if (result == WAIT_OBJECT_0) return kWaitStop;
    if (result == WAIT_OBJECT_0 + 1) return kWaitPower;
    if (result == WAIT_OBJECT_0 + settingsIndex) return kWaitSettings;
    if (result == WAIT_OBJECT_0 + drillIndex) return kWaitDrill;
    if (result != WAIT_TIMEOUT && result < WAIT_OBJECT_0 + count) return kWaitHealth;
    return kWaitElapsed;
}

// A suspend stops the watchdog and waits for the resume, after which the next heartbeat arms it
// again; a resume without a suspend changes nothing. False when a stop came first.
static bool FollowPowerChange(WatchdogKeeper *keeper, const ServiceEvents &events)
{
    if (TakePowerChange() != kPowerSuspend) return true;
    SuspendKeptWatchdog(keeper);
    MarkSuspendHandled();
    for (;;) {
        WaitEnd end = WaitForStopOrPower(events, INFINITE);
        if (end == kWaitStop) return false;
        if (end == kWaitSettings) NoteSettingsSignal();  // applied after the resume
        PowerChange change = TakePowerChange();
        if (change == kPowerSuspend) MarkSuspendHandled();
        if (change != kPowerResume) continue;
        ResumeKeptWatchdog(keeper);
        return true;
    }
}

// Changed settings that have settled; a new ShutdownTimeout or SelEvents changes the controls
// accepted. True when a value the service reads changed.
static bool ApplyChangedSettings(WatchdogKeeper *keeper)
{
    SettingsApplied applied = ApplySettledSettings(keeper, HeartbeatsWithheld());
    if (applied.shutdownChanged) {
        AcceptPreshutdown(keeper->settings.shutdownTimeout != 0);
        AcceptShutdown(ReadSelEventsSetting() && keeper->settings.shutdownTimeout == 0);
        ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
    }
    return applied.changed;
}

// The pause after a heartbeat. Changed settings are applied once they settle, and end the pause, so
// that the next heartbeat already follows them; so does a change of the health verdict.
static WaitEnd WaitOutPause(WatchdogKeeper *keeper, const ServiceEvents &events, DWORD pauseMs)
{
    uint64_t end = GetTickCount64() + pauseMs;
    for (;;) {
        uint64_t now = GetTickCount64();
        DWORD left = end > now ? static_cast<DWORD>(end - now) : 0;
        DWORD due = SettingsDueInMs();
        WaitEnd result = WaitForStopOrPower(events, due < left ? due : left);
        if (result == kWaitSettings) {
            NoteSettingsSignal();
            continue;
        }
        if (result != kWaitElapsed) return result;
        if (SettingsDueInMs() == 0 && ApplyChangedSettings(keeper)) return kWaitElapsed;
        if (GetTickCount64() >= end) return kWaitElapsed;
    }
}

// Withheld heartbeats leave the watchdog to run out, so it is checked each interval instead.
static void RunHeartbeats(WatchdogKeeper *keeper, const ServiceEvents &events)
{
    for (;;) {
        uint32_t pause = NextHeartbeatPause(keeper);
        if (HeartbeatsWithheld()) {
            KeepWithheldWatchdog(keeper);
        } else {
            pause = PauseAfterHeartbeat(pause, SendHeartbeat(keeper));
        }
        WaitEnd end = WaitOutPause(keeper, events, HeartbeatWaitMilliseconds(pause));
        if (end == kWaitDrill) RunRequestedDrill(keeper, events.stop, events.power, HeartbeatsWithheld());
        if (end == kWaitStop) return;
        if (end == kWaitPower && !FollowPowerChange(keeper, events)) return;
    }
}

// Before each retry of the stop request: the SCM sees the stop make progress.
static void ReportStopRetry()
{
    ReportServiceStatus(SERVICE_STOP_PENDING, ExitCode(), kStopRetryWaitHintMs);
}

static void ReportStartFailure()
{
    LogServiceError("The service cann't be started since failed to launch device or driver!");
    NoteStartFailure();
    ReportServiceStatus(SERVICE_STOP_PENDING, ExitCode(), 0);
}

// The events, kept in the shared state for the control handler; false when either cannot be made.
static bool CreateServiceEvents(ServiceEvents *events)
{
    events->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    events->power = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CriticalSectionLock lock(&g_service.lock);
    g_service.stopEvent = events->stop;
    g_service.powerEvent = events->power;
    return events->stop != nullptr && events->power != nullptr;
}

// Closed under the lock, so a control never signals a handle that is going away.
static void CloseServiceEvents()
{
    CriticalSectionLock lock(&g_service.lock);
    for (HANDLE *event : {&g_service.stopEvent, &g_service.powerEvent}) {
        if (*event != nullptr) CloseHandle(*event);
        *event = nullptr;
    }
}

// Running is reported only once the watchdog counts down, and not when a stop came meanwhile.
static bool ReportArmedRunning(const ServiceEvents &events)
{
    if (WaitForSingleObject(events.stop, 0) != WAIT_TIMEOUT) return false;
    return ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0) != FALSE;
}

// Arms, reports running, heartbeats until the stop event, then stops the watchdog or, at shutdown,
// hands it over. An arm that fails ends the start, so whoever started the service learns it.
static void KeepWatchdog(const ServiceEvents &events, uint16_t shutdownTimeout)
{
    WatchdogKeeper keeper;
    if (!StartKeepingWatchdog(&keeper, shutdownTimeout, SettingsAtStart())) {
        ReportStartFailure();
    } else if (ReportArmedRunning(events)) {
        AnnounceOsBoot();
        StartHealthMonitor(keeper.settings);
        PublishStartSettings();
        OpenDrillPublication();
        RunHeartbeats(&keeper, events);
        CloseDrillPublication();
        StopHealthMonitor();
        if (ShutdownRequested()) {
            HandOverToShutdown(&keeper);
            AnnounceOsShutdown();
            return;
        }
        // At a shutdown without the shutdown phase the countdown goes on from the last heartbeat.
        if (SystemShutdown()) {
            AnnounceOsShutdown();
            return;
        }
    }
    if (!StopKeptWatchdog(&keeper, ReportStopRetry)) NoteTimerLeftRunning();
}

void RunWatchdogService()
{
    if (!ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kKeeperStartWaitHintMs)) return;
    ServiceEvents events;
    if (CreateServiceEvents(&events)) {
        BeginSettingsReload();
        uint16_t shutdownTimeout = ReadShutdownTimeout();
        AcceptPreshutdown(shutdownTimeout != 0);
        AcceptShutdown(ReadSelEventsSetting() && shutdownTimeout == 0);
        KeepWatchdog(events, shutdownTimeout);
        EndSettingsReload();
        RemoveHeartbeatPublication();
    } else {
        ReportStartFailure();
    }
    CloseServiceEvents();
}

void WINAPI ServiceMain(DWORD argc, char **argv)
{
    (void)argc;
    (void)argv;
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(kServiceName, ServiceControlHandler, nullptr);
    if (handle == nullptr) return;
    {
        CriticalSectionLock lock(&g_service.lock);
        g_service.statusHandle = handle;
        g_service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        g_service.status.dwServiceSpecificExitCode = 0;
    }
    if (ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) RunWatchdogService();
    // The one place the end is decided: the exit code follows from what happened.
    ReportServiceStatus(SERVICE_STOPPED, ExitCode(), 0);
}

void RunServiceEntry()
{
    SERVICE_TABLE_ENTRYA table[] = {
        {const_cast<char *>(kServiceName), ServiceMain},
        {nullptr, nullptr},
    };
    if (!StartServiceCtrlDispatcherA(table)) LogServiceError("StartServiceCtrlDispatcher failed.");
}
