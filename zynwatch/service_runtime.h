#pragma once
// The program as the service: dispatcher, service main function, control handler, status
// reports and the heartbeat loop. BMC requests run only on the service main function's thread.
#include <windows.h>

// Exit code of the final stopped report when every stop request failed and the BMC's watchdog
// may still run: ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."
const DWORD kStopFailureExitCode = ERROR_IO_DEVICE;  // 1117

// Wait hint of the stop-pending report that answers the preshutdown control: two requests.
const DWORD kShutdownWaitHint = 10000;

// Prepares the state the two service threads share; once, before anything else here.
void InitializeServiceState();

// Runs the dispatcher until the service has stopped; logs its failure (started from a console).
void RunServiceEntry();

void WINAPI ServiceMain(DWORD argc, char **argv);
void WINAPI ServiceControlHandler(DWORD control);
BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);
void RunWatchdogService();
void SignalServiceStop();

// One event log entry; the thread's last error becomes the exit code of the final report.
void LogServiceError(const char *message);
