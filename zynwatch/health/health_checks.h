#pragma once
// The health checks themselves. A check that hangs counts as failed once its time limit passes,
// and every wait also ends as soon as stopEvent is set, so no check stalls the service's stop.
#include <windows.h>

#include "health/health_rules.h"

// Runs the command line without a window, its standard handles on NUL and no other handle
// inherited, in a job object: at the time limit, or when it ends, whatever it started ends with it.
HealthResult RunHealthCommand(const char *commandLine, uint32_t timeoutSeconds, HANDLE stopEvent);

// The same for the repair, whose programs may outlive it: a service it starts, say. Only at the
// time limit, or at the service's stop, does its whole tree end.
HealthResult RunRepairCommand(const char *commandLine, uint32_t timeoutSeconds, HANDLE stopEvent);

// A probe worker that has not ended yet; it frees itself once it ends and is let go.
struct FolderProbe;

// Creates, writes, flushes and deletes a file in the folder, on a worker waited for up to the
// time limit. While the worker of an earlier probe is still stuck (*stuck), no new one starts and
// the check fails at once.
HealthResult ProbeHealthFolder(FolderProbe **stuck, const char *folder, uint32_t timeoutSeconds, HANDLE stopEvent);

// Lets go of a stuck probe's worker.
void AbandonFolderProbe(FolderProbe **stuck);

// The service must be running.
HealthResult CheckHealthService(const char *name);

// The system's available commit (limit minus total) must be at least minimumMB.
HealthResult CheckAvailableCommit(uint32_t minimumMB);
