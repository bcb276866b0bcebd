#pragma once
// An update over an installation leaves the service as the administrator left it: a service that
// runs is stopped only while its program is replaced, then started again, also when Windows must
// restart for the driver (the driver that setup's check has just reached answers it until then);
// one that does not run stays stopped. The start type is never touched on an update.
#include <windows.h>

struct ServiceHold {
    bool wasRunning;  // started again after the copy
};

// Stops ZynAsrService when it runs or starts: "Stopping <name>." with a dot a second, then the
// stopped or failed-to-stop line, as the removal prints them (nothing when silent).
ServiceHold HoldServiceForUpdate(BYTE mode);

// Starts it again when it ran before and does not run now: "Starting <name>." with a dot a second
// while it starts, for about 30 s at most, then "<name> started.", "<name> failed to start." or,
// when the start itself was refused, "Start ASR Service failed - <reason>" (nothing when silent).
void ReleaseServiceAfterUpdate(const ServiceHold &hold, BYTE mode);
