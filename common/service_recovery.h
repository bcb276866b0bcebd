#pragma once
// What the Service Control Manager does when the service fails: a start that failed at boot, or a
// stop that left the watchdog running, is tried again well within the shortest watchdog timeout
// (10 s) instead of leaving the server unprotected until someone notices.
#include <windows.h>

const DWORD kRecoveryQuickRestartDelayMs = 5000;  // the first and second restart
const DWORD kRecoveryLaterRestartDelayMs = 60000;  // every later restart
const DWORD kRecoveryResetPeriod = 86400;          // seconds without failure after which the count starts again

// Restart after 5 s at the first and second failure, after 60 s at every later one; a stop with a
// non-zero exit code counts as a failure. True when both settings were taken.
bool ConfigureServiceRecovery(SC_HANDLE service);
