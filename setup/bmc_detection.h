#pragma once
// Proving the BMC answers: the installed library loaded at run time, its version and Get Device ID.
#include <windows.h>

// The -h mode: 0, 2, 8 or 16, printed unless silent.
int DetectBmcHardware(BYTE options);
// The probe alone: 0 answered, 2 library or session failed, 8 no answer, 16 library not loadable.
int AccessBmcDevice(BYTE options);
