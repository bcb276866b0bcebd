// A stand-in service for the removal tests: runs until it is stopped, then stays stop-pending
// for the number of seconds given as its first start argument (-1: until it is killed), and
// stops with the exit code given as its second (0 without one).
#include <windows.h>

#include <cstdlib>

#include "service_identity.h"

static SERVICE_STATUS_HANDLE g_statusHandle;
static HANDLE g_stopEvent;

static void Report(DWORD state, DWORD checkPoint, DWORD exitCode = 0)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 2000 : 0;
    SetServiceStatus(g_statusHandle, &status);
}

static DWORD WINAPI Handler(DWORD control, DWORD, void *, void *)
{
    if (control != SERVICE_CONTROL_STOP) return ERROR_CALL_NOT_IMPLEMENTED;
    Report(SERVICE_STOP_PENDING, 1);
    SetEvent(g_stopEvent);
    return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD argc, char **argv)
{
    long pendingSeconds = argc > 1 ? strtol(argv[1], nullptr, 10) : 0;
    DWORD exitCode = argc > 2 ? strtoul(argv[2], nullptr, 10) : 0;
    g_statusHandle = RegisterServiceCtrlHandlerExA(kServiceName, Handler, nullptr);
    if (g_statusHandle == nullptr) return;
    g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_stopEvent, INFINITE);
    for (DWORD halfSeconds = 0; pendingSeconds < 0 || halfSeconds < DWORD(pendingSeconds) * 2; ++halfSeconds) {
        Report(SERVICE_STOP_PENDING, halfSeconds + 2);
        Sleep(500);
    }
    Report(SERVICE_STOPPED, 0, exitCode);
}

int main()
{
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char *>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
