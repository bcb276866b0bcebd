#include "session_table.h"

#include "../common/guards.h"

const char kImbDevicePath[] = "\\\\.\\imb";

static DriverSessionTable g_table;

bool CreateSessionTable()
{
    void *slots = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kSessionSlots * sizeof(LONG));
    if (slots == nullptr) return false;
    g_table.slots = static_cast<LONG *>(slots);
    g_table.device = nullptr;
    g_table.openCount = 0;
    InitializeCriticalSection(&g_table.lock);
    return true;
}

void DestroySessionTable()
{
    if (g_table.slots == nullptr) return;
    HeapFree(GetProcessHeap(), 0, g_table.slots);
    g_table.slots = nullptr;
    DeleteCriticalSection(&g_table.lock);
}

HANDLE SharedDeviceHandle()
{
    return static_cast<HANDLE>(InterlockedCompareExchangePointer(&g_table.device, nullptr, nullptr));
}

LONG OpenSessionCount()
{
    CriticalSectionLock lock(&g_table.lock);
    return g_table.openCount;
}

static LONG FindFreeSlot()
{
    for (LONG index = 0; index < kSessionSlots; ++index) {
        if (g_table.slots[index] == 0) return index;
    }
    return -1;
}

static DWORD OpenSharedDevice()
{
    HANDLE device = CreateFileA(kImbDevicePath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_DEV_NOT_EXIST : error;
    }
    InterlockedExchangePointer(&g_table.device, device);
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI OpenVX7Driver(DWORD *session)
{
    if (session == nullptr) return ERROR_INVALID_PARAMETER;
    CriticalSectionLock lock(&g_table.lock);
    LONG index = FindFreeSlot();
    if (index < 0) return ERROR_NO_SYSTEM_RESOURCES;
    if (g_table.openCount == 0) {
        DWORD error = OpenSharedDevice();
        if (error != ERROR_SUCCESS) return error;
    }
    g_table.slots[index] = 1;
    ++g_table.openCount;
    *session = static_cast<DWORD>(index);
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI CloseVX7Driver(LONG session)
{
    CriticalSectionLock lock(&g_table.lock);
    if (session < 0 || session >= kSessionSlots || g_table.slots[session] != 1) {
        return ERROR_INVALID_HANDLE;
    }
    g_table.slots[session] = 0;
    --g_table.openCount;
    if (g_table.openCount > 0) return ERROR_SUCCESS;
    HANDLE device = InterlockedExchangePointer(&g_table.device, nullptr);
    return CloseHandle(device) ? ERROR_SUCCESS : GetLastError();
}
