#include "service_runtime.h"

#include "../common/guards.h"
#include "health_monitor.h"
#include "service_configuration.h"
#include "service_event_log.h"
#include "service_identity.h"
#include "watchdog_keeper.h"

const DWORD kStartWaitHint = 3000;
const DWORD kStartFailureExitCode = ERROR_BAD_UNIT;  // 20

struct ServiceState {
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS status;
    DWORD nextCheckPoint;
    DWORD exitCode;
    HANDLE stopEvent;
    bool acceptPreshutdown;  // "ShutdownTimeout" is set: the shutdown phase is on
    bool shutdownRequested;  // the stop event was set by the preshutdown control
    // Held while a report is filled in and sent, and around exitCode and stopEvent, so the
    // control handler's thread and the service thread never interleave.
    CRITICAL_SECTION lock;
};

static ServiceState g_service = {nullptr, {}, 1, 0, nullptr, false, false, {}};

void InitializeServiceState()
{
    InitializeCriticalSection(&g_service.lock);
}

static void SetExitCode(DWORD code)
{
    CriticalSectionLock lock(&g_service.lock);
    g_service.exitCode = code;
}

static DWORD ExitCode()
{
    CriticalSectionLock lock(&g_service.lock);
    return g_service.exitCode;
}

// Fills the record by the reporting rules; the caller holds the lock.
static void FillStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    SERVICE_STATUS &status = g_service.status;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = waitHint;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (state == SERVICE_RUNNING && g_service.acceptPreshutdown) status.dwControlsAccepted |= SERVICE_ACCEPT_PRESHUTDOWN;
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

BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint)
{
    BOOL reported = SendStatus(state, exitCode, waitHint);
    if (!reported) LogServiceError("SetServiceStatus");
    return reported;
}

void LogServiceError(const char *message)
{
    DWORD code = GetLastError();
    SetExitCode(code);
    WriteServiceErrorEntry(code, message);
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

// Reports the present state again, keeping the exit code it was reported with.
static BOOL ReportCurrentState()
{
    CriticalSectionLock lock(&g_service.lock);
    FillStatus(g_service.status.dwCurrentState, g_service.status.dwWin32ExitCode, 0);
    return SetServiceStatus(g_service.statusHandle, &g_service.status);
}

void WINAPI ServiceControlHandler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_PRESHUTDOWN) {
        if (!ReportStopControl(control == SERVICE_CONTROL_PRESHUTDOWN)) LogServiceError("SetServiceStatus");
        SignalServiceStop();
        return;
    }
    if (!ReportCurrentState()) LogServiceError("SetServiceStatus");
}

static void RunHeartbeats(WatchdogKeeper *keeper, HANDLE stopEvent)
{
    for (;;) {
        uint32_t pause = NextHeartbeatPause(keeper);
        if (!HeartbeatsWithheld()) SendHeartbeat(keeper);
        if (WaitForNextHeartbeat(stopEvent, HeartbeatWaitMilliseconds(pause))) return;
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
    SetExitCode(kStartFailureExitCode);
    ReportServiceStatus(SERVICE_STOP_PENDING, kStartFailureExitCode, 0);
    SetLastError(kStartFailureExitCode);
}

static HANDLE CreateStopEvent()
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CriticalSectionLock lock(&g_service.lock);
    g_service.stopEvent = event;
    return event;
}

// Closed under the lock, so a stop control never signals a handle that is going away.
static void CloseStopEvent()
{
    CriticalSectionLock lock(&g_service.lock);
    if (g_service.stopEvent == nullptr) return;
    CloseHandle(g_service.stopEvent);
    g_service.stopEvent = nullptr;
}

// Arms, heartbeats until the stop event, then stops the watchdog or, at shutdown, hands it over.
static void KeepWatchdog(HANDLE stopEvent, uint16_t shutdownTimeout)
{
    WatchdogKeeper keeper;
    if (StartKeepingWatchdog(&keeper, shutdownTimeout)) {
        StartHealthMonitor(keeper.settings);
        RunHeartbeats(&keeper, stopEvent);
        StopHealthMonitor();
        if (ShutdownRequested()) {
            HandOverToShutdown(&keeper);
            return;
        }
    } else {
        ReportStartFailure();
    }
    // A timer left running would reset a healthy server: that stop is a failure, not a success.
    if (!StopKeptWatchdog(&keeper, ReportStopRetry) && ExitCode() == NO_ERROR) SetExitCode(kStopFailureExitCode);
}

void RunWatchdogService()
{
    SetExitCode(NO_ERROR);
    if (!ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) return;
    HANDLE stopEvent = CreateStopEvent();
    if (stopEvent == nullptr) return;
    uint16_t shutdownTimeout = ReadShutdownTimeout();
    AcceptPreshutdown(shutdownTimeout != 0);
    SetExitCode(NO_ERROR);
    if (ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0)) KeepWatchdog(stopEvent, shutdownTimeout);
    CloseStopEvent();
}

void WINAPI ServiceMain(DWORD argc, char **argv)
{
    (void)argc;
    (void)argv;
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kServiceName, ServiceControlHandler);
    if (handle == nullptr) return;
    {
        CriticalSectionLock lock(&g_service.lock);
        g_service.statusHandle = handle;
        g_service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        g_service.status.dwServiceSpecificExitCode = 0;
        g_service.exitCode = NO_ERROR;
    }
    if (ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) RunWatchdogService();
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
