#pragma once
// The program as the service: dispatcher, service main function, control handler, status
// reports and the heartbeat loop. BMC requests run only on the service main function's thread.
#include <windows.h>

#include "service/service_outcome.h"

// Wait hint of the stop-pending report that answers the preshutdown control: two requests.
const DWORD kShutdownWaitHint = 10000;

// Controls the service accepts while it runs, besides the preshutdown control when it is on.
const DWORD kRunningControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT;

// Prepares the state the two service threads share; once, before anything else here.
void InitializeServiceState();

// Runs the dispatcher until the service has stopped; logs its failure (started from a console).
void RunServiceEntry();

void WINAPI ServiceMain(DWORD argc, char **argv);
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, void *eventData, void *context);
BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);
void RunWatchdogService();
void SignalServiceStop();

// One error entry in the event log with the thread's last error and the message.
void LogServiceError(const char *message);
