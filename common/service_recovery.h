#pragma once
// What the Service Control Manager does when the service fails: a start that failed at boot is
// tried again instead of leaving the server unprotected until someone notices.
#include <windows.h>

const DWORD kRecoveryRestartDelayMs = 60000;  // restart after one minute
const DWORD kRecoveryResetPeriod = 86400;     // seconds without failure after which the count starts again

// Restart at the first and second failure, no action after that; a stop with a non-zero exit
// code counts as a failure. True when both settings were taken.
bool ConfigureServiceRecovery(SC_HANDLE service);
