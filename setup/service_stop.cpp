#include "service_stop.h"

#include "../common/guards.h"
#include "../common/service_identity.h"
#include "console.h"
#include "setup_codes.h"

// A service still stopping after this long is given up on; its removal goes ahead regardless.
const DWORD kStopWaitSeconds = 60;

// Polls once a second while the service is stop-pending; gives the last state it learnt.
static DWORD WaitWhileStopPending(SC_HANDLE service, DWORD lastState, BYTE mode)
{
    SERVICE_STATUS status;
    Sleep(1000);
    for (DWORD waited = 1; QueryServiceStatus(service, &status); ++waited) {
        lastState = status.dwCurrentState;
        if (lastState != SERVICE_STOP_PENDING || waited >= kStopWaitSeconds) break;
        if (!IsSilent(mode)) ConsolePrint(".");
        Sleep(1000);
    }
    return lastState;
}

void StopServiceAndWait(SC_HANDLE service, BYTE mode)
{
    SERVICE_STATUS status = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return;
    if (!IsSilent(mode)) ConsolePrint("Stopping %s.", kServiceDisplayName);
    DWORD state = WaitWhileStopPending(service, status.dwCurrentState, mode);
    if (IsSilent(mode)) return;
    ConsolePrint(state == SERVICE_STOPPED ? "\n%s stopped.\n" : "\n%s failed to stop.\n", kServiceDisplayName);
}

void StopRunningService(BYTE mode)
{
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) return;
    UniqueServiceHandle service(OpenServiceA(manager.Get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (service.Valid()) StopServiceAndWait(service.Get(), mode);
}
