// The service program with one addition for the tests: named events hand the controls Wine never
// sends to the service's own control handler. "ZynPreshutdownTest" delivers the preshutdown
// control: Wine's ControlService refuses control 15 with error 87 (as Windows does for a caller),
// and its shutdown sends services no control at all. "ZynSuspendTest" and "ZynResumeTest" deliver
// the power events of a suspend (PBT_APMSUSPEND) and an automatic resume (PBT_APMRESUMEAUTOMATIC):
// Wine has no sleep and sends services no power event. "ZynShutdownTest" delivers the shutdown
// control, which Wine refuses from ControlService (error 87, as Windows does) and never sends.
// "ZynControlReturnedTest" is set each time the handler has returned, when Windows would go on, to
// sleep say.
#include <windows.h>

#include "service/service_runtime.h"
#include "session_table.h"

struct Trigger {
    const char *name;
    DWORD control;
    DWORD eventType;
};

const Trigger kTriggers[] = {
    {"ZynPreshutdownTest", SERVICE_CONTROL_PRESHUTDOWN, 0},
    {"ZynSuspendTest", SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND},
    {"ZynResumeTest", SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC},
    {"ZynShutdownTest", SERVICE_CONTROL_SHUTDOWN, 0},
};
const DWORD kTriggerCount = sizeof(kTriggers) / sizeof(kTriggers[0]);

static HANDLE g_returned;

// Each setting of an event delivers its control once, on this thread, as the dispatcher would.
static DWORD WINAPI DeliverControls(void *events)
{
    HANDLE *handles = static_cast<HANDLE *>(events);
    for (;;) {
        DWORD which = WaitForMultipleObjects(kTriggerCount, handles, FALSE, INFINITE) - WAIT_OBJECT_0;
        if (which >= kTriggerCount) return 0;
        ServiceControlHandler(kTriggers[which].control, kTriggers[which].eventType, nullptr, nullptr);
        SetEvent(g_returned);
    }
}

int main()
{
    if (!CreateSessionTable()) return 0;
    InitializeServiceState();
    static HANDLE events[kTriggerCount];
    bool made = true;
    for (DWORD i = 0; i < kTriggerCount; ++i) {
        events[i] = CreateEventA(nullptr, FALSE, FALSE, kTriggers[i].name);
        made = made && events[i] != nullptr;
    }
    g_returned = CreateEventA(nullptr, FALSE, FALSE, "ZynControlReturnedTest");
    if (made) CloseHandle(CreateThread(nullptr, 0, DeliverControls, events, 0, nullptr));
    RunServiceEntry();
    return 0;
}
