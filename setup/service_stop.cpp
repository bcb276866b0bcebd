#include "service_stop.h"

#include "../common/guards.h"
#include "../common/service_identity.h"
#include "../common/watchdog_stop.h"
#include "bmc_watchdog_stop.h"
#include "console.h"
#include "setup_codes.h"

// Starting or stopping: the service takes no stop control, and how it ends is still open.
static bool Pending(DWORD state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

// Polls once a second until the service has stopped, for about 40 s at most, a start that ends
// meanwhile sent the stop it could not take before; the last status it learnt stays in *status.
static void WaitUntilStopped(SC_HANDLE service, SERVICE_STATUS *status, BYTE mode)
{
    SERVICE_STATUS polled;
    Sleep(1000);
    for (DWORD waited = 1; QueryServiceStatus(service, &polled); ++waited) {
        if (polled.dwCurrentState == SERVICE_RUNNING) ControlService(service, SERVICE_CONTROL_STOP, &polled);
        *status = polled;
        if (polled.dwCurrentState == SERVICE_STOPPED || waited >= kServiceStopWaitSeconds) break;
        if (!IsSilent(mode)) ConsolePrint(".");
        Sleep(1000);
    }
}

// Sends the stop control; true when it was taken, or when the service is starting or stopping and
// so cannot take it yet.
static bool StopTakenOrPending(SC_HANDLE service, SERVICE_STATUS *status)
{
    if (ControlService(service, SERVICE_CONTROL_STOP, status)) return true;
    return QueryServiceStatus(service, status) && Pending(status->dwCurrentState);
}

ServiceStopEnd StopServiceAndWait(SC_HANDLE service, BYTE mode)
{
    SERVICE_STATUS status = {};
    if (!StopTakenOrPending(service, &status)) return ServiceStopEnd::Refused;
    if (!IsSilent(mode)) ConsolePrint("Stopping %s.", kServiceDisplayName);
    WaitUntilStopped(service, &status, mode);
    bool stopped = status.dwCurrentState == SERVICE_STOPPED;
    if (!IsSilent(mode)) ConsolePrint(stopped ? "\n%s stopped.\n" : "\n%s failed to stop.\n", kServiceDisplayName);
    return StopLeftNoTimer(stopped, status.dwWin32ExitCode) ? ServiceStopEnd::Clean : ServiceStopEnd::TimerMayRun;
}

// A service that refused the stop: found stopped, its exit code tells whether its last stop may have
// left the timer running; not stopped, its process hangs or is gone, and the timer may run.
static bool RefusedWithTimer(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState != SERVICE_STOPPED) return true;
    return !StopLeftNoTimer(true, status.dwWin32ExitCode);
}

bool StopRunningService(BYTE mode)
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) return true;
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service.Valid()) return true;
    ServiceStopEnd end = StopServiceAndWait(service.Get(), mode);
    bool timerMayRun = end == ServiceStopEnd::TimerMayRun ||
                       (end == ServiceStopEnd::Refused && RefusedWithTimer(service.Get()));
    return !timerMayRun || StopBmcWatchdog(mode);
}
