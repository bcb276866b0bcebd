#include "service_update.h"

#include "../common/guards.h"
#include "../common/last_error_text.h"
#include "../common/service_identity.h"
#include "console.h"
#include "setup_codes.h"

// Polled this often, so that the service is down no longer than it must be; a dot each second.
const DWORD kPollMs = 100;
const DWORD kPollsPerDot = 10;
const DWORD kWaitLimitMs = 30000;

// Polls while the service is in the pending state; the last status learnt stays in *status.
static void WaitWhilePending(SC_HANDLE service, DWORD pending, SERVICE_STATUS *status, BYTE mode)
{
    SERVICE_STATUS polled;
    for (DWORD polls = 1; polls * kPollMs <= kWaitLimitMs; ++polls) {
        Sleep(kPollMs);
        if (!QueryServiceStatus(service, &polled)) return;
        *status = polled;
        if (polled.dwCurrentState != pending) return;
        if (polls % kPollsPerDot == 0 && !IsSilent(mode)) ConsolePrint(".");
    }
}

static bool Runs(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           status.dwCurrentState != SERVICE_STOP_PENDING;
}

static UniqueServiceHandle OpenZynAsrService(SC_HANDLE manager)
{
    const DWORD access = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;
    return UniqueServiceHandle(OpenServiceA(manager, kServiceName, access));
}

ServiceHold HoldServiceForUpdate(BYTE mode)
{
    ServiceHold hold = {false};
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) return hold;
    UniqueServiceHandle service = OpenZynAsrService(manager.Get());
    if (!service.Valid() || !Runs(service.Get())) return hold;
    hold.wasRunning = true;
    SERVICE_STATUS status = {};
    if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) return hold;
    if (!IsSilent(mode)) ConsolePrint("Stopping %s.", kServiceDisplayName);
    WaitWhilePending(service.Get(), SERVICE_STOP_PENDING, &status, mode);
    bool stopped = status.dwCurrentState == SERVICE_STOPPED;
    if (!IsSilent(mode)) ConsolePrint(stopped ? "\n%s stopped.\n" : "\n%s failed to stop.\n", kServiceDisplayName);
    return hold;
}

void ReleaseServiceAfterUpdate(const ServiceHold &hold, BYTE mode)
{
    if (!hold.wasRunning) return;
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Valid()) return;
    UniqueServiceHandle service = OpenZynAsrService(manager.Get());
    if (!service.Valid() || Runs(service.Get())) return;
    if (!StartServiceA(service.Get(), 0, nullptr)) {
        GetLastErrorText(g_errorText, kErrorTextSize);
        if (!IsSilent(mode)) ConsolePrint("Start ASR Service failed - %s\n", g_errorText);
        return;
    }
    if (!IsSilent(mode)) ConsolePrint("Starting %s.", kServiceDisplayName);
    SERVICE_STATUS status = {};
    status.dwCurrentState = SERVICE_START_PENDING;
    WaitWhilePending(service.Get(), SERVICE_START_PENDING, &status, mode);
    bool running = status.dwCurrentState == SERVICE_RUNNING;
    if (!IsSilent(mode)) ConsolePrint(running ? "\n%s started.\n" : "\n%s failed to start.\n", kServiceDisplayName);
}
