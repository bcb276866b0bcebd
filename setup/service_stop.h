#pragma once
// Stopping the auto server restart service and waiting while it stops; a stop that may have left
// the BMC's watchdog running is followed by the installer's own stop request.
#include <windows.h>

// How the stop control ended.
enum class ServiceStopEnd {
    Refused,      // the control was refused: the service was not running
    Clean,        // stopped with exit code 0 or 20
    TimerMayRun,  // stopped otherwise, or still not stopped after about 30 s
};

// Sends the stop control; when accepted, prints "Stopping <name>." and a dot for each second the
// service is still stopping, gives up after about 30 s, then the stopped or failed-to-stop line
// (nothing when silent). A refused control prints nothing.
ServiceStopEnd StopServiceAndWait(SC_HANDLE service, BYTE mode);

// Stops ZynAsrService, if it runs, while the driver is still there, so that its own stop can still
// disarm the BMC watchdog; once the driver is gone nothing can. When this stop, or the earlier one
// of a service found stopped, may have left the watchdog running, stops it with the installer's
// own request. An absent service is left alone. False when the watchdog may still run.
bool StopRunningService(BYTE mode);
