#pragma once
// Stopping the auto server restart service and waiting while it stops; a stop that may have left
// the BMC's watchdog running is followed by the installer's own stop request.
#include <windows.h>

// How the stop control ended.
enum class ServiceStopEnd {
    Refused,      // the control was refused, and the service is neither starting nor stopping
    Clean,        // stopped with exit code 0, 20 or 1077
    TimerMayRun,  // stopped otherwise, or still not stopped after about 40 s
};

// Sends the stop control; when accepted, or when the service is starting or stopping and cannot
// take it yet, prints "Stopping <name>." and a dot for each second it has not stopped, gives up
// after about 40 s, then the stopped or failed-to-stop line (nothing when silent). A refused
// control prints nothing.
ServiceStopEnd StopServiceAndWait(SC_HANDLE service, BYTE mode);

// Stops ZynAsrService, if it runs, while the driver is still there, so that its own stop can still
// disarm the BMC watchdog; once the driver is gone nothing can. When this stop, the earlier one of a
// service found stopped, or a stop refused by a service that has not stopped (its process hangs or
// is gone), may have left the watchdog running, stops it with the installer's own request. An
// absent service is left alone. False when the watchdog may still run.
bool StopRunningService(BYTE mode);
