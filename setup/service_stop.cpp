#include "service_stop.h"

#include "../common/guards.h"
#include "../common/service_identity.h"
#include "../common/watchdog_stop.h"
#include "bmc_watchdog_stop.h"
#include "console.h"
#include "setup_codes.h"

// A service still stopping after this long did not stop cleanly; its removal goes ahead only once
// the watchdog is stopped.
const DWORD kStopWaitSeconds = 30;

// Polls once a second while the service is stop-pending; the last status it learnt stays in *status.
static void WaitWhileStopPending(SC_HANDLE service, SERVICE_STATUS *status, BYTE mode)
{
    SERVICE_STATUS polled;
    Sleep(1000);
    for (DWORD waited = 1; QueryServiceStatus(service, &polled); ++waited) {
        *status = polled;
        if (polled.dwCurrentState != SERVICE_STOP_PENDING || waited >= kStopWaitSeconds) break;
        if (!IsSilent(mode)) ConsolePrint(".");
        Sleep(1000);
    }
}

ServiceStopEnd StopServiceAndWait(SC_HANDLE service, BYTE mode)
{
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return ServiceStopEnd::Refused;
    if (!IsSilent(mode)) ConsolePrint("Stopping %s.", kServiceDisplayName);
    WaitWhileStopPending(service, &status, mode);
    bool stopped = status.dwCurrentState == SERVICE_STOPPED;
    if (!IsSilent(mode)) ConsolePrint(stopped ? "\n%s stopped.\n" : "\n%s failed to stop.\n", kServiceDisplayName);
    return StopLeftNoTimer(stopped, status.dwWin32ExitCode) ? ServiceStopEnd::Clean : ServiceStopEnd::TimerMayRun;
}

// A service found stopped: its exit code tells whether its last stop may have left the timer running.
static bool FoundStoppedWithTimer(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState != SERVICE_STOPPED) return false;
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
                       (end == ServiceStopEnd::Refused && FoundStoppedWithTimer(service.Get()));
    return !timerMayRun || StopBmcWatchdog(mode);
}
