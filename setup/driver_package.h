#pragma once
// The driver package's INF and the hardware identifier it declares.
#include <windows.h>

const DWORD kHardwareIdSize = 104;  // 103 characters and the terminator

struct DriverPackageInfo {
    char infPath[MAX_PATH + 1];
    char hardwareId[kHardwareIdSize];
};

extern DriverPackageInfo g_driverPackage;

// 1 when the INF was read and hardwareId set from every manufacturer line, 0 otherwise.
int DoInit();
