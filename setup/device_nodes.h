#pragma once
// Finding device nodes by hardware identifier, creating a root-enumerated node and
// installing or updating its driver from the package's INF.
#include <windows.h>
#include <setupapi.h>

// 1 a present device carries the identifier (exact, case-sensitive), 0 none does, -1 the search failed.
int FindInExistDevice(const char *hardwareId);
// 1 driver updated, 0 failed; *rebootRequired set when Windows needs a restart.
int UpdateExistingDriver(BOOL *rebootRequired);
// 1 node created and driver installed, 0 failed.
int InstallRootEnumeratedDriver(BOOL *rebootRequired);
int CreateNewDevice(const char *hardwareId, const char *infPath, BOOL *rebootRequired);
// Destroys the set, keeping the thread's last error; always 0.
int CleanDeviceInfo(HDEVINFO set);
