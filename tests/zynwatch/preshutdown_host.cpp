// The service program with one addition for the tests: the named event "ZynPreshutdownTest"
// hands the preshutdown control to the service's own control handler. Wine never sends it: its
// ControlService refuses control 15 with error 87 (as Windows does for a caller), and its
// shutdown sends services no control at all.
#include <windows.h>

#include "service_runtime.h"
#include "session_table.h"

static DWORD WINAPI DeliverPreshutdown(void *trigger)
{
    if (WaitForSingleObject(trigger, INFINITE) == WAIT_OBJECT_0) ServiceControlHandler(SERVICE_CONTROL_PRESHUTDOWN);
    return 0;
}

int main()
{
    if (!CreateSessionTable()) return 0;
    InitializeServiceState();
    HANDLE trigger = CreateEventA(nullptr, TRUE, FALSE, "ZynPreshutdownTest");
    if (trigger != nullptr) CloseHandle(CreateThread(nullptr, 0, DeliverPreshutdown, trigger, 0, nullptr));
    RunServiceEntry();
    return 0;
}
