#pragma once
// The process-wide table of driver sessions; all sessions share one handle to "\\.\imb".
#include <windows.h>

const LONG kSessionSlots = 512;
extern const char kImbDevicePath[];

struct DriverSessionTable {
    LONG *slots;           // kSessionSlots flags on the heap: 1 open, 0 free
    HANDLE device;         // open exactly while openCount > 0, null otherwise
    LONG openCount;
    CRITICAL_SECTION lock;  // guards all fields
};

// Builds the table before any session operation; false when the slots cannot be allocated.
bool CreateSessionTable();
// Frees the table; a device handle still open is left alone, as the process is going away.
void DestroySessionTable();
// The shared device handle as requests read it, without the lock.
HANDLE SharedDeviceHandle();
// Sessions open at this moment (for tests and diagnostics).
LONG OpenSessionCount();

extern "C" {
DWORD WINAPI OpenVX7Driver(DWORD *session);
DWORD WINAPI CloseVX7Driver(LONG session);
}
