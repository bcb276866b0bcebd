#include "newdev_loader.h"

#include "../common/guards.h"

typedef BOOL(WINAPI *UpdateDriverEntry)(HWND, const char *, const char *, DWORD, BOOL *);

// Loaded on first use and kept for the life of the process, as an imported DLL would be.
static UpdateDriverEntry SystemUpdateDriverEntry()
{
    static UpdateDriverEntry entry = nullptr;
    if (entry != nullptr) return entry;
    UniqueModule newdev(LoadLibraryExA("newdev.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!newdev.Valid()) return nullptr;
    FARPROC address = GetProcAddress(newdev.Get(), "UpdateDriverForPlugAndPlayDevicesA");
    if (address == nullptr) return nullptr;
    newdev.Release();
    entry = reinterpret_cast<UpdateDriverEntry>(reinterpret_cast<void (*)()>(address));
    return entry;
}

BOOL UpdateDriverForDevices(const char *hardwareId, const char *infPath, DWORD installFlags, BOOL *rebootRequired)
{
    UpdateDriverEntry update = SystemUpdateDriverEntry();
    if (update == nullptr) return FALSE;
    return update(nullptr, hardwareId, infPath, installFlags, rebootRequired);
}
