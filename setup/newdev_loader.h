#pragma once
// The driver installation entry of newdev.dll, taken from the system folder only: setup is often
// started from a download folder, where a planted newdev.dll must never be loaded.
#include <windows.h>

// UpdateDriverForPlugAndPlayDevicesA with no parent window. FALSE with the loader's last error when the
// system's newdev.dll or its entry cannot be had.
BOOL UpdateDriverForDevices(const char *hardwareId, const char *infPath, DWORD installFlags, BOOL *rebootRequired);
