#include "newdev_loader.h"

#include <string.h>

#include "../common/guards.h"

typedef BOOL(WINAPI *UpdateDriverEntry)(HWND, const char *, const char *, DWORD, BOOL *);

// By the system folder's full path, which needs no loader update; the altered search order takes
// its own dependencies from the system folder too.
static HMODULE LoadSystemNewdev()
{
    static const char kName[] = "\\newdev.dll";
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0) return nullptr;
    if (length + sizeof(kName) > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    memcpy(path + length, kName, sizeof(kName));
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loaded on first use and kept for the life of the process, as an imported DLL would be.
static UpdateDriverEntry SystemUpdateDriverEntry()
{
    static UpdateDriverEntry entry = nullptr;
    if (entry != nullptr) return entry;
    UniqueModule newdev(LoadSystemNewdev());
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
