#pragma once
// Stopping the BMC's watchdog through the installed library, when the service's own stop may have
// left it running: before the service or the driver is removed, while the driver can still reach it.
#include <windows.h>

// The stop request with the service's retry. When every try failed it says why and that nothing
// is removed (unless silent) and gives false.
bool StopBmcWatchdog(BYTE mode);
