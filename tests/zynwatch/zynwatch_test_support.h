#pragma once
// Helpers of the service's Wine tests: the simulated driver as a service, the SCM, the debug log.
#include <windows.h>

#include "simulated_bmc.h"

#include <string>
#include <vector>

// Sets or deletes (value < 0) a DWORD default of the simulated driver, read when it starts.
bool SetSimulatedDriverDefault(const char *name, long long value);

// The service's status as the SCM reports it; false when it cannot be queried.
bool QueryServiceState(SC_HANDLE service, SERVICE_STATUS_PROCESS *status);

// Waits until the service reports state; false after limitMs.
bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD limitMs);

// Stops (waiting for SERVICE_STOPPED) and deletes the service if it exists, and waits until its key is gone.
bool RemoveServiceIfPresent(const char *name);

// The strings the prefix's processes reported with ReportEventA since offset, as Wine prints them.
std::vector<std::string> EventLogStringsSince(long long offset);
long long DebugLogSize();

// Milliseconds between two performance-counter readings.
double CounterMs(long long from, long long to, long long frequency);
long long CounterNow();
long long CounterFrequency();

// The Windows path of a program in this program's own folder.
std::string ProgramBesideThis(const char *name);
