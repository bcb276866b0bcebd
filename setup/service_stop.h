#pragma once
// Stopping the auto server restart service and waiting while it stops.
#include <windows.h>

// Sends the stop control; when accepted, prints "Stopping <name>." and a dot for each second the
// service is still stopping, gives up after a minute, then the stopped or failed-to-stop line
// (nothing when silent). A refused control prints nothing.
void StopServiceAndWait(SC_HANDLE service, BYTE mode);

// Stops ZynAsrService, if it runs, while the driver is still there, so that its own stop can still
// disarm the BMC watchdog; once the driver is gone nothing can. An absent service is left alone.
void StopRunningService(BYTE mode);
